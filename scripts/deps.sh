# Installs the Debian packages named as arguments when any is missing.
# Sourced by the other scripts; runs apt-get only when something is absent.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    if [[ "${missing[*]}" == *:mipsel* ]] && ! dpkg --print-foreign-architectures | grep -qx mipsel; then
        dpkg --add-architecture mipsel
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

HOST_PACKAGES=(cmake make g++ libcjson-dev libgtest-dev psmisc tar gzip)
