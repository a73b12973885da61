# Build for the router's ABI (MIPS32r2 little-endian, soft float, musl:
# OpenWrt's mipsel_24kc) with the toolchain of scripts/router-toolchain,
# static by default:
#   scripts/router-toolchain     (into build-router-toolchain/)
#   cmake -S . -B build-router -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-openwrt-musl.cmake
# -DWATCHD_ROUTER_STATIC=OFF links against musl's libc.so and libcjson.so, as
# the router's package is, and -DWATCHD_ROUTER_TOOLCHAIN=DIR names another
# directory made by scripts/router-toolchain.
#
# Only the daemons are built (watchd and watchd-test): there is no libstdc++
# for musl, so the test programs cannot be. scripts/test router runs the build
# machine's end-to-end tests against watchd-test under qemu-mipsel.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

get_filename_component(_repo "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(WATCHD_ROUTER_TOOLCHAIN "${_repo}/build-router-toolchain" CACHE PATH
    "Directory made by scripts/router-toolchain")
option(WATCHD_ROUTER_STATIC "Link the daemon statically against musl and cJSON" ON)
# CMake's checks of the compilers run in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WATCHD_ROUTER_TOOLCHAIN WATCHD_ROUTER_STATIC)

# The drivers build for MIPS32r2 with soft float against musl; the tuning is
# OpenWrt's for the target.
set(CMAKE_C_COMPILER "${WATCHD_ROUTER_TOOLCHAIN}/bin/mipsel-openwrt-linux-musl-gcc")
set(CMAKE_CXX_COMPILER "${WATCHD_ROUTER_TOOLCHAIN}/bin/mipsel-openwrt-linux-musl-g++")
set(CMAKE_C_FLAGS_INIT "-mtune=24kc -mno-branch-likely")
set(CMAKE_CXX_FLAGS_INIT "-mtune=24kc -mno-branch-likely")
if(WATCHD_ROUTER_STATIC)
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()

set(WATCHD_BUILD_TESTS OFF CACHE BOOL "The test programs need libstdc++, which musl lacks here")
set(WATCHD_BUILD_TEST_DAEMON ON CACHE BOOL "Build watchd-test, the daemon with test timing")
set(WATCHD_BUILD_EXAMPLES OFF CACHE BOOL "Build the demo's example programs")

# cJSON comes from the toolchain's directory (cjson/lib/cmake/cJSON); nothing
# of the build machine's may be found.
set(CMAKE_FIND_ROOT_PATH "${WATCHD_ROUTER_TOOLCHAIN}/cjson")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
