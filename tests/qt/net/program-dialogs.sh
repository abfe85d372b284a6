# The program's dialogs as the user answers them on a test host's desktop (desktop-hosts.sh).
# shellcheck shell=bash

# settings HOST CHECKER RECEIVE [DESTINATION] : the settings dialog as the user fills it in,
# starting from the values it shows (the program starts with 2 and 0).
declare -A checker_now receive_now
settings() {
  local host=$1 checker=$2 receive=$3 dest=${4:-} win moves key
  zm_menu "$host" 3 c
  win=$(zm_wait_dialog "$host" 417 425) || return 1
  local c=${checker_now[$host]:-2} r=${receive_now[$host]:-0}
  # OK has the focus; two tabs reach the selected item of the checker group.
  keys=(Tab Tab)
  for ((moves = c; moves > checker; moves--)); do keys+=(Up); done
  for ((moves = c; moves < checker; moves++)); do keys+=(Down); done
  keys+=(Tab)
  for ((moves = r; moves > receive; moves--)); do keys+=(Up); done
  for ((moves = r; moves < receive; moves++)); do keys+=(Down); done
  zm_keys "$host" "$win" "${keys[@]}"
  checker_now[$host]=$checker
  receive_now[$host]=$receive
  zm_shot "$host" "$win" "settings-$host"
  if [ -n "$dest" ]; then
    # About, then the browser's details when enabled, then the destination's details.
    keys=(Tab)
    [ "$receive" -eq 1 ] && keys+=(Tab)
    keys+=(Tab space)
    zm_keys "$host" "$win" "${keys[@]}"
    local chooser
    chooser=$(zm_wait_dialog "$host" 427 123) || return 1
    zm_keys "$host" "$chooser" Tab Tab ctrl+a BackSpace
    zm_type "$host" "$chooser" "$dest"
    zm_shot "$host" "$chooser" "chooser-$host"
    zm_keys "$host" "$chooser" shift+Tab shift+Tab space
    zm_wait_gone "$host" "$chooser"
    # Back on the details button; past the senders group (its details disabled) comes OK.
    zm_keys "$host" "$win" Tab Tab space
  else
    zm_keys "$host" "$win" Return
  fi
  zm_wait_gone "$host" "$win"
}

# notice HOST NAME : waits for the notice dialog, keeps its picture and presses OK.
notice() {
  local win
  win=$(zm_wait_dialog "$1" 427 141 "${3:-20}") || return 1
  zm_shot "$1" "$win" "$2"
  zm_keys "$1" "$win" space
  zm_wait_gone "$1" "$win"
}
