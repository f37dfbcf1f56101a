#!/usr/bin/env bash
# Checks the Debian package that `make package` built, without installing it: its fields, and
# that it holds exactly the application.
set -euo pipefail
deb=$(ls "${1:-build}"/cofferbox_*.deb)
fields=$(dpkg-deb --field "$deb")
check() { grep -Eq "$1" <<<"$fields" || { echo "$deb: no field matching $1" >&2; exit 1; }; }
check '^Package: cofferbox$'
check '^Depends: .*libqt6widgets6'
check '^Depends: .*qt6-qpa-plugins'
check '^Recommends: qt6-translations-l10n, xdg-utils, fonts-wqy-microhei$'
id=org.cofferbox.Cofferbox
expected="./usr/bin/cofferbox
./usr/share/applications/$id.desktop
./usr/share/icons/hicolor/scalable/apps/$id.svg
./usr/share/metainfo/$id.metainfo.xml
./usr/share/mime/packages/$id.xml"
contents=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [ "$contents" != "$expected" ]; then
    echo "$deb holds:" >&2
    echo "$contents" >&2
    exit 1
fi
echo "$deb: fields and contents as expected"
