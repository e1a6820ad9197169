#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine (run as root).
set -euo pipefail

need_apt=0
pkgs=(cmake g++ make libgtest-dev
      g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
      wine wine64 fonts-wine xvfb xauth x11-utils xdotool fonts-wqy-microhei imagemagick locales fdisk gdisk
      dosfstools ntfs-3g syslinux-common grub-pc-bin
      python3 passwd
      # Registry hives: hivexml reads boot stores independently, python3-hivex writes test stores.
      libhivex-bin python3-hivex
      # Secure Boot test material: Microsoft-signed and Debian-signed EFI binaries, a firmware
      # variable store with Microsoft's keys, and the tools that make signature lists and
      # signatures of test certificates (osslsigncode, and sbsigntool for a second signature);
      # libcrypto checks signatures in the unit tests; the firmware itself under qemu, booting FAT
      # images made with mtools.
      shim-signed grub-efi-amd64-signed ovmf efitools osslsigncode sbsigntool openssl libssl-dev
      qemu-system-x86 mtools)

# 32-bit Wine only where the kernel runs 32-bit programs; elsewhere the x86 cases are skipped.
if bash "$(dirname "$0")/runs-32-bit.sh"; then
  pkgs+=(wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_apt=1
  fi
fi
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    need_apt=1
    break
  fi
done
if [ "$need_apt" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${pkgs[@]}" >/dev/null
fi

# Wine renders Chinese and gives message boxes Chinese buttons under this locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi
