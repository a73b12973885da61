# Stand-in for OpenWrt's rules.mk, for scripts/test openwrt: the few
# variables the watchd recipe and the stand-ins beside it use, with OpenWrt's
# values for the mipsel_24kc target. Not part of the package.
# Given on the command line: STAGING_DIR, TOOLCHAIN_DIR (the toolchain's C
# library, a root path of the build like OpenWrt's toolchain directory),
# TARGET_CROSS (path and prefix of its tools) and BUILD_DIR.
INCLUDE_DIR:=$(TOPDIR)/include
ARCH:=mipsel

# The target's flags, then OpenWrt's package defaults: format checks, the
# regular stack protector and full RELRO.
CPU_CFLAGS:=-mno-branch-likely -mips32r2 -mtune=24kc -msoft-float
TARGET_CFLAGS:=-Os -pipe $(CPU_CFLAGS) -Wformat -Werror=format-security -fstack-protector
TARGET_CXXFLAGS:=$(TARGET_CFLAGS)
TARGET_LDFLAGS:=-L$(STAGING_DIR)/usr/lib -L$(STAGING_DIR)/lib -Wl,-z,now -Wl,-z,relro

TARGET_CC:=$(TARGET_CROSS)gcc
TARGET_CXX:=$(TARGET_CROSS)g++
TARGET_AR:=$(TARGET_CROSS)ar
TARGET_NM:=$(TARGET_CROSS)nm
TARGET_RANLIB:=$(TARGET_CROSS)ranlib
NINJA:=ninja -j2

CP:=cp -fpR
INSTALL_DIR:=install -d -m0755
INSTALL_BIN:=install -m0755
INSTALL_DATA:=install -m0644
INSTALL_CONF:=install -m0600
