#!/usr/bin/env bash
# The update server's site and rollout (docs/serving-updates.md):
#
#   vexo-update-site.sh render --host NAME --certificate FILE --key FILE --tree DIR [--conf DIR]
#   vexo-update-site.sh share PERCENT [--conf DIR]
#   vexo-update-site.sh promote --tree DIR [--role ROLE] [--conf DIR]
#   vexo-update-site.sh pull --tree DIR [--role ROLE] [--conf DIR]
#
# render  writes CONF/site.conf from site.conf.in beside this script, makes CONF/local/ for
#         site-local directives, and writes CONF/rollout.conf with a share of 0 % unless it
#         exists, so rendering again keeps a rollout's share.
# share   writes CONF/rollout.conf: PERCENT of the client addresses (0 to 100, at most two
#         decimals) get the next release's manifest (TREE/next/...) in place of the current one.
#         0 halts a rollout; 100 gives the next release to every client.
# promote at a share of 100 %, makes the next manifest the current one, keeps the current one as
#         TREE/previous/..., and sets the share to 0 for the next rollout.
# pull    withdraws a release: a next manifest is moved to TREE/pulled/... and the share set to
#         0; otherwise the previous manifest is served again as the current one.
#
# CONF is /etc/nginx/vexo-updates unless given, ROLE is host. Nothing here touches a running
# nginx: check and reload it afterwards (nginx -t && systemctl reload nginx).
set -euo pipefail
readonly kTemplate=$(dirname "$(readlink -f "$0")")/site.conf.in
readonly kManifests=api/program-updates/v1/manifest
readonly kHostPattern='^[a-z0-9]([a-z0-9.-]{0,251}[a-z0-9])?$'
# What a path may hold: nothing nginx would read as syntax, a variable or a comment.
readonly kPathPattern='^/[A-Za-z0-9._/+,=@-]*$'
readonly kSharePattern='^(100(\.0{1,2})?|[0-9]{1,2}(\.[0-9]{1,2})?)$'
readonly kRolePattern='^[a-z]{1,16}$'
readonly kReload="apply it with: nginx -t && systemctl reload nginx"

fail() {
  echo "vexo-update-site: $*" >&2
  exit 1
}
usage() {
  sed -n '4,7p' "$0" | sed 's/^# */usage: /' >&2
  exit 2
}
say() {
  echo "vexo-update-site: $*"
}

# Writes standard input to FILE through a temporary file beside it, so nginx never reads half.
replace_file() {
  local file=$1 temporary
  temporary=$(mktemp "$file.XXXXXX")
  cat >"$temporary"
  chmod 0644 "$temporary"
  mv -f -- "$temporary" "$file"
}

require_path() {
  local name=$1
  [[ ${option[$name]:-} =~ $kPathPattern && ${option[$name]} != *..* ]] ||
    fail "$name must be an absolute path of letters, digits and ._/+,=@- only, not" \
      "\"${option[$name]:-}\""
}

render() {
  local name
  [[ ${option[--host]:-} =~ $kHostPattern ]] ||
    fail "--host must be a lower-case DNS host name, not \"${option[--host]:-}\""
  for name in --certificate --key --tree --conf; do
    require_path "$name"
  done
  [[ -d ${option[--tree]} ]] || fail "--tree ${option[--tree]} is not a folder"
  for name in --certificate --key; do
    [[ -f ${option[$name]} && -r ${option[$name]} ]] ||
      fail "$name ${option[$name]} is not a readable file"
  done
  local conf=${option[--conf]}
  mkdir -p -- "$conf/local"
  sed -e "s|@HOST@|${option[--host]}|g" -e "s|@CERTIFICATE@|${option[--certificate]}|g" \
    -e "s|@KEY@|${option[--key]}|g" -e "s|@TREE@|${option[--tree]}|g" -e "s|@CONF@|$conf|g" \
    "$kTemplate" | replace_file "$conf/site.conf"
  [[ -e $conf/rollout.conf ]] || write_share 0
  say "wrote $conf/site.conf for https://${option[--host]}/ serving ${option[--tree]}," \
    "rollout share $(current_share) %; enable it once with: ln -s $conf/site.conf" \
    "/etc/nginx/sites-enabled/vexo-updates; $kReload"
}

current_share() {
  sed -n 's/^# share: \([0-9.]*\) %$/\1/p' "${option[--conf]}/rollout.conf" 2>/dev/null
}

# rollout.conf: split_clients hashes the client address, so an address keeps its answer, and a
# larger share keeps every address a smaller one had.
write_share() {
  local share=$1
  {
    echo "# Rollout of the update server's next manifest, written by vexo-update-site.sh share."
    echo "# share: $share %"
    echo 'split_clients "${remote_addr}" $vexo_update_stage {'
    if [[ $share =~ ^0(\.0*)?$ ]]; then
      echo '  * "";'
    elif [[ $share =~ ^100 ]]; then
      echo '  * /next;'
    else
      echo "  $share% /next;"
      echo '  * "";'
    fi
    echo '}'
  } | replace_file "${option[--conf]}/rollout.conf"
}

share() {
  [[ ${option[share]:-} =~ $kSharePattern ]] ||
    fail "the share must be a percentage from 0 to 100 with at most two decimals, not" \
      "\"${option[share]:-}\""
  [[ -d ${option[--conf]} ]] || fail "${option[--conf]} does not exist; render the site first"
  write_share "${option[share]}"
  say "rollout share ${option[share]} % written to ${option[--conf]}/rollout.conf; $kReload"
}

# The manifest of ROLE in STAGE of the tree: current, next, previous or pulled.
manifest() {
  local stage=$1
  [[ $stage == current ]] && stage="" || stage=$stage/
  echo "${option[--tree]}/$stage$kManifests/${option[--role]}"
}

# Puts FROM's manifest in place of TO's: copied, or moved when FROM is to be gone afterwards.
place() {
  local how=$1 from=$2 to=$3
  mkdir -p -- "$(dirname "$(manifest "$to")")"
  if [[ $how == move ]]; then
    mv -f -- "$(manifest "$from")" "$(manifest "$to")"
  else
    replace_file "$(manifest "$to")" <"$(manifest "$from")"
  fi
}

check_tree() {
  require_path --tree
  [[ -d ${option[--tree]} ]] || fail "--tree ${option[--tree]} is not a folder"
  [[ ${option[--role]} =~ $kRolePattern ]] || fail "--role must be a role name, not \"${option[--role]}\""
  [[ -d ${option[--conf]} ]] || fail "${option[--conf]} does not exist; render the site first"
}

promote() {
  check_tree
  [[ -f $(manifest next) ]] || fail "no next release to promote: $(manifest next) does not exist"
  [[ $(current_share) =~ ^100 ]] ||
    fail "the rollout share is $(current_share) %; raise it to 100 before promoting"
  [[ ! -f $(manifest current) ]] || place copy current previous
  place move next current
  write_share 0
  say "the next ${option[--role]} release is now the current one (the one before is kept as" \
    "$(manifest previous)); rollout share set to 0 for the next release; $kReload"
}

pull() {
  check_tree
  if [[ -f $(manifest next) ]]; then
    place move next pulled
    write_share 0
    say "the next ${option[--role]} release is withdrawn to $(manifest pulled) and the share set" \
      "to 0; clients that took it keep it; $kReload"
  elif [[ -f $(manifest previous) ]]; then
    place copy current pulled
    place move previous current
    say "the previous ${option[--role]} release is the current one again (the pulled manifest is" \
      "kept as $(manifest pulled)); clients that took the pulled one keep it. An expired manifest" \
      "updates nobody: publish the previous program again with a higher sequence if it has expired"
  else
    fail "nothing to pull: neither $(manifest next) nor $(manifest previous) exists"
  fi
}

(($# >= 1)) || usage
command=$1
shift
declare -A option=([--conf]=/etc/nginx/vexo-updates [--role]=host)
if [[ $command == share && $# -ge 1 && $1 != --* ]]; then
  option[share]=$1
  shift
fi
while (($# > 0)); do
  case $command:$1 in
  render:--host | render:--certificate | render:--key | render:--tree | promote:--tree | \
    pull:--tree | promote:--role | pull:--role | *:--conf)
    (($# >= 2)) || fail "$1 needs a value"
    option[$1]=$2
    shift 2
    ;;
  *) usage ;;
  esac
done
case $command in
render | share | promote | pull) "$command" ;;
*) usage ;;
esac
