# The posix thread model of mingw-w64, linked statically: the exe needs no DLL beyond Windows' own.
set(CMAKE_C_COMPILER ${KESTRIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRIX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Sections per function let the linker drop what the program never calls: the exe stays small.
# The Windows programs catch no exception anywhere (failures are values), so they are built
# without exception tables, and without unwind tables on x86 and x64 alike: nothing in them raises
# or handles an exception, C++ or structured, so a stack is only ever walked for a crash, which
# ends the program either way (x64's .pdata/.xdata were 20 KiB of the exe).
# Nothing asks a type its name at run time, so no type information is kept either.
# Link-time optimisation sees the whole program at once: it inlines across files and drops what
# no path reaches, which more than halves the exe.
# GCC 12's -Oz: smaller than -Os, where speed never mattered (the exe waits for tools and disks).
set(CMAKE_C_FLAGS_MINSIZEREL "-Oz -DNDEBUG" CACHE STRING "Flags for the smallest build")
set(CMAKE_CXX_FLAGS_MINSIZEREL "-Oz -DNDEBUG" CACHE STRING "Flags for the smallest build")
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections -flto=auto ${KESTRIX_UNWIND_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections -fno-exceptions -fno-rtti -flto=auto ${KESTRIX_UNWIND_FLAGS}")
# One partition: GCC 12 stops with an internal error when it splits this program for x86.
# No link time stamp, so the same sources give the same exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -flto=auto -flto-partition=one -Wl,--gc-sections -Wl,--no-insert-timestamp")
