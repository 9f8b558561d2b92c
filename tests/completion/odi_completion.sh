#!/usr/bin/env bash
# odi's bash completion driven as bash drives it, on the sample disk.
# Usage: odi_completion.sh ODI ODI-MKIMAGE COMPLETION-SCRIPT
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" && "$2" --sample SAMPLE.odi >/dev/null || exit 1
PATH=$(dirname "$1"):$PATH
source /usr/share/bash-completion/bash_completion && source "$3" || exit 1
fails=0

# expect WORD... -- CANDIDATE...: the candidates for the last word of the line, in order.
expect() {
  local line=() got want
  while [[ $1 != -- ]]; do line+=("$1") && shift; done
  shift
  COMP_WORDS=("${line[@]}") COMP_CWORD=$((${#line[@]} - 1)) COMPREPLY=()
  COMP_LINE="${line[*]}" && COMP_POINT=${#COMP_LINE}
  _odi odi "${line[-1]}" "${line[-2]}"
  got=$(IFS='|' && echo "${COMPREPLY[*]}") want=$(IFS='|' && echo "$*")
  [[ $got == "$want" ]] || { echo "FAIL ${line[*]}: <$got>, not <$want>" && fails=1; }
}

expect odi ext -- extract
expect odi cat --type rks SAMPLE.odi '' -- 'ОПИСАНИЕ TXT' 'СТИХ     K7' 'HELLO    COM' ТЕКСТЫ/
expect odi ls SAMPLE.odi '' -- ТЕКСТЫ/
expect odi rm -r SAMPLE.odi ТЕКСТЫ/ -- 'ТЕКСТЫ/ЗАМЕТКИ  TXT' ТЕКСТЫ/АРХИВ/
expect odi cat SAMPLE.odi 'HELLO\ \ ' -- 'HELLO    COM'
expect odi extract --type '' -- bin rom rks txt
# A name completed is one odi finds.
odi cat SAMPLE.odi 'ТЕКСТЫ/ЗАМЕТКИ  TXT' >/dev/null || { echo "FAIL: odi refuses it" && fails=1; }
exit $fails
