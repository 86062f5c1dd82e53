# korvel's key bindings for bash: pick paths below the working directory
# with korvel and put them on the command line, or go to a picked directory.
#
# Load them from ~/.bashrc:
#     eval "$(korvel --shell bash)"
# (or: source /usr/share/korvel/korvel.bash, where korvel is installed).
#
#   Alt-I  inserts the picked paths at the cursor, each quoted for bash
#   Alt-M  changes to the picked directory (for a picked file, the one it is in)
#
# korvel lists the files and directories below the working directory (or
# runs $KORVEL_DEFAULT_COMMAND); Tab marks paths, o picks, q picks nothing.
# For other keys, set KORVEL_INSERT_KEY and KORVEL_CD_KEY before loading, in
# readline's notation ('\C-xp'); an empty value binds nothing.

# Runs korvel on the terminal and prints the picked paths, each quoted for
# bash and followed by a blank.
__korvel_picked_words() {
    local path quoted
    while IFS= read -r -d '' path; do
        # A name that looks like an option must not become one.
        [[ $path == -* ]] && path=./$path
        printf -v quoted '%q' "$path"
        printf '%s ' "$quoted"
    done < <(command korvel --print0 </dev/tty)
}

__korvel_insert() {
    local words
    words=$(__korvel_picked_words)
    READLINE_LINE=${READLINE_LINE:0:READLINE_POINT}$words${READLINE_LINE:READLINE_POINT}
    READLINE_POINT=$((READLINE_POINT + ${#words}))
}

# The cd key is a macro of three hidden keys, because only a new prompt
# shows the new directory and a bound function cannot start one:
#   \C-x\C-kc  picks and changes directory; on success it puts the line
#              being edited aside and binds the next key to accept the
#              then empty line, which draws a fresh prompt (and runs no
#              command and leaves no history);
#   \C-x\C-kn  accept-line, or, when nothing changed, a redraw;
#   \C-x\C-kr  brings the line that was put aside back.
__korvel_cd() {
    local path=
    IFS= read -r -d '' path < <(command korvel --print0 </dev/tty)
    if [[ -n $path && ! -d $path ]]; then
        if [[ $path == */* ]]; then
            path=${path%/*}
            path=${path:-/}
        else
            path=.
        fi
    fi
    # Relative paths start with ./, so that neither CDPATH nor a leading
    # dash can take cd elsewhere.
    [[ -n $path && $path != /* ]] && path=./$path
    if [[ -n $path ]] && builtin cd -- "$path"; then
        __korvel_line=$READLINE_LINE
        __korvel_point=$READLINE_POINT
        READLINE_LINE=
        READLINE_POINT=0
        bind '"\C-x\C-kn": accept-line'
    else
        bind '"\C-x\C-kn": redraw-current-line'
    fi
}

__korvel_restore_line() {
    [[ -n ${__korvel_point-} ]] || return 0
    READLINE_LINE=$__korvel_line
    READLINE_POINT=$__korvel_point
    unset __korvel_line __korvel_point
}

__korvel_bind_keys() {
    local map insert_key=${KORVEL_INSERT_KEY-'\ei'} cd_key=${KORVEL_CD_KEY-'\em'}
    for map in emacs-standard vi-insert; do
        bind -m "$map" -x '"\C-x\C-kc": __korvel_cd'
        bind -m "$map" '"\C-x\C-kn": redraw-current-line'
        bind -m "$map" -x '"\C-x\C-kr": __korvel_restore_line'
        if [[ -n $insert_key ]]; then
            bind -m "$map" -x "\"$insert_key\": __korvel_insert"
        fi
        if [[ -n $cd_key ]]; then
            bind -m "$map" "\"$cd_key\": \"\\C-x\\C-kc\\C-x\\C-kn\\C-x\\C-kr\""
        fi
    done
}

# Only where there is a line editor to bind keys in.
if [[ $- == *i* ]]; then
    __korvel_bind_keys
fi
unset -f __korvel_bind_keys
