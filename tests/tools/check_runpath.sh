#!/usr/bin/env bash
# Every ELF program and library under the given folders: no RPATH or RUNPATH with an empty entry
# (the loader takes an empty entry for the working directory, so a library planted where the
# program is started from would be loaded) or a relative one ("lib", not "$ORIGIN/lib").
# Exit 77 (skipped) without readelf.
#   check_runpath.sh FOLDER...
set -uo pipefail

if ! command -v readelf >/dev/null 2>&1; then
    echo "SKIPPED: readelf is missing (Debian package binutils)"
    exit 77
fi
folders=()
for folder in "$@"; do
    [ -d "$folder" ] && folders+=("$folder")
done
checked=0 failures=0
while IFS= read -r -d '' file; do
    [ "$(head -c 4 "$file" 2>/dev/null | od -An -c | tr -d ' ')" = "177ELF" ] || continue
    checked=$((checked + 1))
    while IFS= read -r path; do
        IFS=: read -r -a entries <<<"$path:"
        bad=""
        if [[ "$path" == "" || "$path" == :* || "$path" == *: || "$path" == *::* ]]; then
            bad="an empty entry"
        else
            for entry in "${entries[@]}"; do
                case $entry in
                '$ORIGIN'* | '${ORIGIN}'* | /*) ;;
                *) bad="the relative entry '$entry'" ;;
                esac
            done
        fi
        if [ -n "$bad" ]; then
            echo "FAIL: $file: R(UN)PATH [$path] has $bad"
            failures=$((failures + 1))
        fi
    done < <(readelf -d "$file" 2>/dev/null | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p')
done < <(find "${folders[@]}" -type f \( -perm -u+x -o -name '*.so*' \) -not -path '*/CMakeFiles/*' -print0)
echo "$checked ELF files checked"
[ "$checked" -gt 0 ] || {
    echo "FAIL: no ELF file found under $*"
    exit 1
}
[ "$failures" -eq 0 ]
