#!/usr/bin/env bash
# The rules that keep the layers apart and the code in one form: one seam for
# message boxes, no QtWidgets in the database layer, includes that name their
# folder, and the project's clang-format. Run by the test suite.
set -uo pipefail
cd "$(dirname "$0")/.."
fail=0
sources=$(git ls-files 'data/*.cpp' 'data/*.h' 'adif/*.cpp' 'adif/*.h' 'rig/*.cpp' 'rig/*.h' 'query/*.cpp' 'query/*.h' 'callinfo/*.cpp' 'callinfo/*.h' 'cli/*.cpp' 'ui/*.cpp' 'ui/*.h' 'app/*.cpp' 'app/*.h' \
          'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' 2>/dev/null)
[ -n "$sources" ] || sources=$(find data adif rig query callinfo cli ui app tests bench -name '*.cpp' -o -name '*.h')

if out=$(grep -nE '#include <QMessageBox>|QMessageBox::|QMessageBox[ *&]+[A-Za-z_]' $sources | grep -v '^ui/common/'); then
    echo "QMessageBox is used outside ui/common (use ui/common/MessageBox.h):"
    echo "$out"
    fail=1
fi

core=$(find /usr/include -type d -path '*qt6/QtCore' 2>/dev/null | head -1)
for f in $(echo "$sources" | grep -E '^(data|adif|query|callinfo)/'); do
    for h in $(grep -o '#include <Q[A-Za-z/]*>' "$f" | sed 's/#include <\(.*\)>/\1/'); do
        case $h in
        QtCore/*) ;;
        Qt*/*|QtWidgets|QtGui) echo "$f includes <$h>: data/, adif/, query/ and callinfo/ use QtCore only"; fail=1 ;;
        *) if [ -n "$core" ] && [ ! -e "$core/$h" ]; then
               echo "$f includes <$h>, which is not a QtCore header: data/, adif/, query/ and callinfo/ use QtCore only"
               fail=1
           fi ;;
        esac
    done
done

# rig/ talks to the radio and the network, never to a window: QtCore and
# QtNetwork only.
net=$(find /usr/include -type d -path '*qt6/QtNetwork' 2>/dev/null | head -1)
for f in $(echo "$sources" | grep -E '^rig/'); do
    for h in $(grep -o '#include <Q[A-Za-z/]*>' "$f" | sed 's/#include <\(.*\)>/\1/'); do
        case $h in
        QtCore/*|QtNetwork/*) ;;
        Qt*/*|QtWidgets|QtGui) echo "$f includes <$h>: rig/ uses QtCore and QtNetwork only"; fail=1 ;;
        *) if [ -n "$core" ] && [ ! -e "$core/$h" ] && { [ -z "$net" ] || [ ! -e "$net/$h" ]; }; then
               echo "$f includes <$h>, which is not a QtCore or QtNetwork header: rig/ has no window code"
               fail=1
           fi ;;
        esac
    done
done

for layer in data adif rig query callinfo ui/common ui/main ui/editor ui/rig ui/search ui/stats; do
    for h in $(cd "$layer" && ls *.h); do
        if out=$(grep -n "#include \"$h\"" $sources); then
            echo "include \"$layer/$h\" by its folder:"
            echo "$out"
            fail=1
        fi
    done
done

if command -v clang-format >/dev/null; then
    if ! clang-format --dry-run -Werror $sources 2>/tmp/qardel-format.$$; then
        head -40 /tmp/qardel-format.$$
        echo "clang-format finds differences: run clang-format -i on the files named"
        fail=1
    fi
    rm -f /tmp/qardel-format.$$
else
    echo "clang-format is missing"
    fail=1
fi

[ $fail = 0 ] && echo "rules: 1 passed, 0 failed" || echo "rules: 0 passed, 1 failed"
exit $fail
