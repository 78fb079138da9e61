#!/usr/bin/env bash
# Installs, as root, the Debian packages listed in tools/deps/*.txt (or the
# lists named as arguments) that are not installed yet.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
lists=("$@")
[ ${#lists[@]} -gt 0 ] || lists=("$here"/deps/*.txt)
missing=()
for p in $(sed 's/#.*//' "${lists[@]}"); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
