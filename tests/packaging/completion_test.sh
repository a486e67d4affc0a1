#!/usr/bin/env bash
# ruvo-cli's bash completion: the subcommands, every option the manual page's synopsis gives
# each subcommand (so that a new option documented there and not completed fails here), the
# values of --continue, and for send files first, then files or an address, and only an
# address after --text.
#   completion_test.sh SOURCE_DIR
set -euo pipefail
src=$1
# shellcheck source=/dev/null
source "$src/data/ruvo-cli.bash-completion"
failed=0

# complete WORD...: the completions offered for the last word, sorted, one line.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _ruvo_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
    local what=$1 want=$2 got=$3
    if [ "$got" != "$want" ]; then
        echo "FAIL $what: want [$want], got [$got]"
        failed=1
    fi
}

expect "subcommands" "--help --version id list pair receive send trust untrust" "$(complete_words ruvo-cli '')"
expect "--continue" "ask no yes" "$(complete_words ruvo-cli receive --continue '')"
expect "--port takes a number" "" "$(complete_words ruvo-cli send a --port '')"

# Every option of each subcommand's synopsis in the manual page is completed.
# (untrust takes no option.)
for command in send receive list pair id trust; do
    documented=$(awk -v c="$command" '
        $0 == ".B ruvo-cli " c { on = 1; next }
        on && /^\.br/ { exit }
        on { print }' "$src/doc/ruvo-cli.1" | sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u)
    offered=$(complete_words ruvo-cli "$command" --)
    [ -n "$documented" ] || { echo "FAIL no synopsis of $command in the manual page"; failed=1; }
    for option in $documented; do
        grep -qw -- "$option" <<<"$offered" || {
            echo "FAIL $command: $option is documented but not completed"
            failed=1
        }
    done
done

# send: a file first, then an address (no files), options anywhere.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/video.mkv"
cd "$dir"
expect "send's file" "video.mkv" "$(complete_words ruvo-cli send vi)"
expect "send's second word may be another file" "video.mkv" \
    "$(complete_words ruvo-cli send video.mkv --port 9 vi | tr ' ' '\n' | grep -x video.mkv)"
expect "send --text's word is no file" "" "$(complete_words ruvo-cli send --text hola vi)"
expect "--text takes a text" "" "$(complete_words ruvo-cli send --text '')"

[ $failed -eq 0 ] && echo "completion: subcommands, options, values and files as documented"
exit $failed
