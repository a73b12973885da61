# Stand-in for OpenWrt's include/package.mk, for scripts/test openwrt.
# BuildPackage makes one target, "package", that runs the recipe's steps in
# OpenWrt's order: a fresh build directory, Build/Prepare, Build/Configure,
# Build/Compile, Build/Install, then Package/NAME/install into PKG_ROOT (the
# package's root, as the package would unpack on a router) with the
# conffiles list beside it in PKG_ROOT.conffiles. It also requires the
# license and maintainer fields and the license files.
PKG_BUILD_DIR ?= $(BUILD_DIR)/$(PKG_NAME)-$(PKG_VERSION)
PKG_INSTALL_DIR ?= $(PKG_BUILD_DIR)/ipkg-install
PKG_ROOT ?= $(BUILD_DIR)/root-$(PKG_NAME)

Build/Prepare=$(call Build/Prepare/Default,)
Build/Configure=$(call Build/Configure/Default,)
Build/Compile=$(call Build/Compile/Default,)
Build/Install=$(if $(PKG_INSTALL),$(call Build/Install/Default,))

define BuildPackage
  $(eval $(Package/$(1)))
  $(foreach field,TITLE CATEGORY SECTION PKG_LICENSE PKG_LICENSE_FILES PKG_MAINTAINER,
    $(if $($(field)),,$$(error Package/$(1) is missing $(field))))

  package:
	rm -rf $(PKG_BUILD_DIR) $(PKG_ROOT)
	mkdir -p $(PKG_BUILD_DIR)
	$$(Build/Prepare)
	cd $(PKG_BUILD_DIR) && ls $(PKG_LICENSE_FILES) >/dev/null
	$$(Build/Configure)
	$$(Build/Compile)
	$$(Build/Install)
	$$(call Package/$(1)/install,$(PKG_ROOT))
	$$(file >$(PKG_ROOT).conffiles,$$(Package/$(1)/conffiles))
endef
