#!/usr/bin/env bash
# Checks the Debian package that `make package` built, without installing it: its name, and what
# it depends on and recommends. Its files come from the install rules, which tst_window checks.
set -euo pipefail
fields=$(dpkg-deb --field "$(ls "${1:-build}"/cofferbox_*.deb)")
for wanted in '^Package: cofferbox$' '^Depends: .*libqt6widgets6' '^Depends: .*qt6-qpa-plugins' \
    '^Recommends: qt6-translations-l10n, xdg-utils, fonts-wqy-microhei$'; do
    grep -Eq "$wanted" <<<"$fields" || { echo "no package field matching $wanted" >&2; exit 1; }
done
