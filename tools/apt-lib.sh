# Package installation shared by the test scripts (sourced). apt's own output
# goes to the caller's standard output and error.
export DEBIAN_FRONTEND=noninteractive

# A mirror in the middle of a sync can serve one index that does not match
# its Release file; apt then exits non-zero although it read the others.
# Whether that matters is for the install that follows to say.
apt_update() {
    apt-get update -qq || echo "apt-get update exited $?; going on with the indexes it read"
}

# Installs the packages with the first plan apt can resolve: the newest
# versions, else the main suite's, which exist for every architecture where
# a newer update's twin may not (Multi-Arch wants the same version on both).
# Nothing installed is ever downgraded (-t gives the main suite a priority
# below 1000) or removed. Returns 0 once installed, 1 when a resolved plan
# failed (a download, a package's scripts), 2 when apt cannot resolve the
# packages at all; its reason is then in APT_REASON, on one line.
apt_install() {  # package...
    local opts=(-y --no-install-recommends --no-remove) sim t
    APT_REASON=
    for t in "" "$(. /etc/os-release && echo "$VERSION_CODENAME")"; do
        if sim=$(apt-get install -s "${opts[@]}" ${t:+-t "$t"} "$@" 2>&1); then
            apt-get install "${opts[@]}" ${t:+-t "$t"} "$@" && return 0
            return 1
        fi
    done
    echo "$sim"
    # The first unmet dependency names the cause; else apt's last error.
    APT_REASON=$(awk '/^ [^ ].* : / { sub(/^ +/, ""); gsub(/ +/, " "); print; exit }' <<<"$sim")
    [ -n "$APT_REASON" ] || APT_REASON=$(grep '^E: ' <<<"$sim" | tail -n 1)
    return 2
}

apt_has() {  # package
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

# Makes the 32-bit Wine of the i686 runs ready, with the i386 architecture
# it needs. When apt cannot resolve it, WINE32_SKIP holds apt's reason and
# the i686 runs are to be skipped; any other failure returns non-zero.
apt_wine32() {
    WINE32_SKIP=
    apt_has wine32:i386 && return 0
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 || return 1
    apt_update
    apt_install wine32:i386 && return 0
    [ $? = 2 ] || return 1
    WINE32_SKIP=$APT_REASON
}
