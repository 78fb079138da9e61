#!/usr/bin/env bash
# Installs, as root, the Debian packages listed in tools/deps/*.txt (or the
# lists named as arguments) that are not installed yet.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/apt-lib.sh"
lists=("$@")
[ ${#lists[@]} -gt 0 ] || lists=("$here"/deps/*.txt)
missing=()
for p in $(sed 's/#.*//' "${lists[@]}"); do
  apt_has "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt_update
  apt_install "${missing[@]}" >/dev/null || { echo "apt-get install failed${APT_REASON:+: $APT_REASON}" >&2; exit 1; }
fi
