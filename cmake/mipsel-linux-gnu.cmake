# Cross build for 32-bit little-endian MIPS with Debian's multiarch toolchain:
#   dpkg --add-architecture mipsel
#   apt-get install g++-mipsel-linux-gnu libcjson-dev:mipsel qemu-user
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake
# Test programs run under user-mode emulation; qemu-mipsel finds the mipsel
# libraries in the multiarch directories, so it needs no -L.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)

# Headers and libraries of the target: the cross toolchain's own tree first,
# then the multiarch directories (/usr/lib/mipsel-linux-gnu, where
# libcjson-dev:mipsel puts its library and CMake package). Programs such as
# the emulator and the shell tools come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# A full path: the end-to-end tests start it with a search path of their own.
find_program(WATCHD_QEMU_MIPSEL qemu-mipsel)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WATCHD_QEMU_MIPSEL})
