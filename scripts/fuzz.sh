#!/usr/bin/env bash
# Fuzzes the parsers (the option string, the listing line, the run folder's manifest, a volume's
# boot record, a firmware signature database, a PE file's certificate table and Authenticode
# digest, an Authenticode signature and a certificate, the diagnosis'
# namers of boot code, PE versions and hibernation, the firmware's boot entries, and a registry hive with the boot store over it) with libFuzzer for a bounded time each. Not
# part of the test suite: run it by hand, e.g. `scripts/fuzz.sh 120`, or
# `FUZZ_TARGETS=manifest scripts/fuzz.sh 120` for one of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out="$root/build/fuzz"
mkdir -p "$out"
core=(platform/text.cpp platform/command_line.cpp platform/paths.cpp app/options.cpp partitions/partition_scan.cpp exec/tool_runner.cpp
      exec/run_log.cpp exec/tool_commands.cpp exec/temporary_letters.cpp repair/manifest.cpp
      repair/boot_record.cpp secureboot/signature_list.cpp secureboot/pe_certificates.cpp platform/pe_header.cpp
      secureboot/der.cpp secureboot/authenticode.cpp
      diagnosis/boot_code.cpp installed/version_resource.cpp installed/windows_version.cpp
      installed/hibernation.cpp diagnosis/boot_entries.cpp store/hive.cpp store/bcd.cpp store/store_file.cpp)
for target in ${FUZZ_TARGETS:-options listing manifest boot_record signature_list pe_certificates authenticode diagnosis boot_entries hive}; do
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" "$root/fuzz/${target}_fuzzer.cpp" "${core[@]/#/$root/}" -o "$out/${target}_fuzzer"
  mkdir -p "$out/corpus-$target"
  # A manifest is only read past its first line: start from one that is whole.
  if [ "$target" = manifest ] && [ -z "$(ls -A "$out/corpus-$target")" ]; then
    printf 'Kestrix manifest 2\r\nvolume\td:\tvolume-d-first8k.bin\t8192\t%064d\tMBR 1A2B\t1048576\t104857600\t1A2B3C4D\r\nvolume\te:\tv\t8192\t%064d\t-\t-\t65536\t-\r\nfile\td:\\NTLDR\td\\NTLDR\t9\t%064d\trhs\tMBR 1A2B\t1048576\t104857600\t1A2B3C4D\r\ncreated\td:\\boot.ini\r\nend\r\n' 0 0 0 \
      > "$out/corpus-$target/whole"
  fi
  # An answer for all disks is only cut into sections from its first line on: start from one.
  if [ "$target" = listing ] && [ -z "$(ls -A "$out/corpus-$target")" ]; then
    printf 'disk 0\r\n1 C: mbr 07 NTFS - yes 1 101 100 MB\r\ndisk 1\r\nopen disk error!\r\n' \
      > "$out/corpus-$target/all-disks"
  fi
  # A boot record is only decoded past its signature and BPB checks: start from real ones.
  if [ "$target" = boot_record ] && [ -z "$(ls -A "$out/corpus-$target")" ]; then
    image="$out/boot-record.img"
    for format in "mkfs.fat -F 12" "mkfs.fat -F 16" "mkfs.fat -F 32" "mkntfs -F -Q -q"; do
      rm -f "$image" && truncate -s 40M "$image"
      PATH="$PATH:/usr/sbin:/sbin" $format "$image" >/dev/null 2>&1
      head -c 512 "$image" > "$out/corpus-$target/${format// /_}"
    done
    rm -f "$image"
  fi
  # A signature database is only read past whole list headers: start from the db of a real
  # firmware's variable store, its certificate lists cut out of it.
  if [ "$target" = signature_list ] && [ -z "$(ls -A "$out/corpus-$target")" ] &&
    [ -f /usr/share/OVMF/OVMF_VARS_4M.ms.fd ]; then
    python3 - "$out/corpus-$target/ovmf-db" <<'PY'
import struct, sys
vars = open("/usr/share/OVMF/OVMF_VARS_4M.ms.fd", "rb").read()
x509 = bytes.fromhex("a159c0a5e494a74a87b5ab155c2bf072")
at = vars.find(x509)
lists = b""
while vars[at:at + 16] == x509:
    size = struct.unpack_from("<I", vars, at + 16)[0]
    lists += vars[at:at + size]
    at += size
open(sys.argv[1], "wb").write(lists)
PY
  fi
  # A signed EFI binary's headers and certificate table, cut out of Debian's GRUB: its code
  # zeroed, the table moved up behind the headers.
  if [ "$target" = pe_certificates ] && [ -z "$(ls -A "$out/corpus-$target")" ] &&
    [ -f /usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed ]; then
    python3 - "$out/corpus-$target/grub" <<'PY'
import struct, sys
pe = bytearray(open("/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed", "rb").read())
directory = struct.unpack_from("<I", pe, 0x3C)[0] + 24 + 112 + 4 * 8
at, size = struct.unpack_from("<II", pe, directory)
headers = (struct.unpack_from("<I", pe, 0x3C)[0] + 24 + 240 + 7) & ~7
struct.pack_into("<I", pe, directory, headers)
open(sys.argv[1], "wb").write(bytes(pe[:headers]) + bytes(pe[at:at + size]))
PY
  fi
  # A signature is only decoded past its outer structure: start from the two of Debian's signed
  # shim, and from the certificates of a real firmware's db.
  if [ "$target" = authenticode ] && [ -z "$(ls -A "$out/corpus-$target")" ] &&
    [ -f /usr/lib/shim/shimx64.efi.signed ]; then
    python3 - "$out/corpus-$target" <<'PY'
import struct, sys
pe = open("/usr/lib/shim/shimx64.efi.signed", "rb").read()
at, size = struct.unpack_from("<II", pe, struct.unpack_from("<I", pe, 0x3C)[0] + 24 + 112 + 4 * 8)
end, number = at + size, 0
while at + 8 < end:
    length = struct.unpack_from("<I", pe, at)[0]
    open(f"{sys.argv[1]}/shim-{number}", "wb").write(pe[at + 8:at + length])
    at, number = at + ((length + 7) & ~7), number + 1
PY
    cp "$out"/corpus-signature_list/* "$out/corpus-$target/" 2>/dev/null || true
  fi
  # A hive is only walked past its base block and root key: start from the real boot stores.
  if [ "$target" = hive ] && [ -z "$(ls -A "$out/corpus-$target")" ]; then
    cp "$root"/../shared/bcd/*.bcd "$out/corpus-$target/" 2>/dev/null || true
  fi
  # Certificates make signature databases and certificate tables some KiB long; the diagnosis
  # reads whole PE files: it starts from small real ones, mingw-w64's resource-only DLLs, and
  # from real first sectors of disks and volumes.
  max_len=512
  case "$target" in signature_list | pe_certificates) max_len=8192 ;; authenticode) max_len=16384 ;; hive) max_len=65536 ;; esac
  if [ "$target" = diagnosis ]; then
    max_len=16384
    if [ -z "$(ls -A "$out/corpus-$target")" ]; then
      printf '1 VERSIONINFO\nFILEVERSION 10,0,19041,3636\nBEGIN\nEND\n' > "$out/version.rc"
      for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
        { "$triplet-windres" -O coff "$out/version.rc" -o "$out/version.o" &&
          "$triplet-gcc" -shared -nostdlib -s -o "$out/corpus-$target/$triplet.dll" "$out/version.o"; } \
          >/dev/null 2>&1 || true
      done
      cp /usr/lib/syslinux/mbr/mbr.bin /usr/lib/grub/i386-pc/boot.img "$out/corpus-$target/" || true
      cp "$out"/corpus-boot_record/* "$out/corpus-$target/" 2>/dev/null || true
      rm -f "$out/version.rc" "$out/version.o"
    fi
  fi
  echo "== $target: ${seconds}s"
  "$out/${target}_fuzzer" -max_total_time="$seconds" -max_len="$max_len" "$out/corpus-$target" 2>&1 |
    grep -E '^(#[0-9]+ +DONE|Done|==[0-9]+==ERROR|SUMMARY)' || true
done
