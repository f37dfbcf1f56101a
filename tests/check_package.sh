#!/usr/bin/env bash
# Checks the Debian package that `make package` built, without installing it: its name, what it
# depends on and recommends, and its copyright file in Debian's machine-readable format. Its
# files come from the install rules, which tst_window checks.
set -euo pipefail
package=$(ls "${1:-build}"/cofferbox_*.deb)
fields=$(dpkg-deb --field "$package")
for wanted in '^Package: cofferbox$' '^Depends: .*libqt6widgets6' '^Depends: .*qt6-qpa-plugins' \
    '^Recommends: qt6-translations-l10n, xdg-utils, fonts-wqy-microhei$'; do
    grep -Eq "$wanted" <<<"$fields" || { echo "no package field matching $wanted" >&2; exit 1; }
done

# The format line first; then stanzas of fields, each Files stanza with its Copyright and
# License, and every license it names given its text in a stanza of its own or in place.
dpkg-deb --fsys-tarfile "$package" | tar -xOf - ./usr/share/doc/cofferbox/copyright | python3 -c '
import email.parser, sys
text = sys.stdin.read()
stanzas = [email.parser.HeaderParser().parsestr(s) for s in text.strip().split("\n\n")]
assert stanzas[0]["Format"] == "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
files = [s for s in stanzas[1:] if "Files" in s]
assert files and files[0]["Files"] == "*", "no Files: * stanza first"
texts = {s["License"].split("\n")[0] for s in stanzas[1:] if "\n" in s.get("License", "")}
for s in files:
    assert s["Copyright"] and s["License"], "a Files stanza without Copyright or License"
    assert s["License"].split("\n")[0] in texts, "no text for license " + s["License"]
' || { echo "the copyright file is not in Debian's machine-readable format" >&2; exit 1; }
