# Installs the Debian packages named as arguments when any is missing.
# Sourced by the other scripts; runs apt-get only when something is absent.
# Packages with an architecture suffix (name:mipsel) first enable that
# architecture in dpkg.
ensure_packages() {
    local missing=() pkg arch
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    for pkg in "${missing[@]}"; do
        [[ "$pkg" == *:* ]] || continue
        arch=${pkg##*:}
        dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
    done
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Build and tests on the build machine.
HOST_PACKAGES=(cmake make g++ libcjson-dev libgtest-dev psmisc tar gzip strace)

# Cross build for 32-bit little-endian MIPS and its tests under user-mode
# emulation; GoogleTest is built from its sources for the target.
MIPSEL_PACKAGES=(g++-mipsel-linux-gnu libcjson-dev:mipsel qemu-user qemu-user-binfmt googletest)

# The daemon built against musl (x86_64): musl's compiler driver, and
# dpkg-source to unpack cJSON's Debian source package (scripts/musl-cjson).
MUSL_PACKAGES=(musl-tools dpkg-dev)

# BusyBox, whose killall and tar the busybox test run puts first on PATH.
BUSYBOX_PACKAGES=(busybox)

# The router's ABI (scripts/router-toolchain, the router test run): Debian's
# mipsel cross compiler and binutils, make for musl, dpkg-source and xz for
# the source packages of musl, glibc (soft-fp) and cJSON, and qemu-mipsel.
ROUTER_PACKAGES=(g++-mipsel-linux-gnu make dpkg-dev xz-utils qemu-user)

# The OpenWrt package check: ninja for OpenWrt's CMake generator, pkg-config
# for cJSON's module in the staging directory, and the build machine's mipsel
# cJSON, which the check must not find.
OPENWRT_PACKAGES=(ninja-build pkgconf libcjson-dev:mipsel)
