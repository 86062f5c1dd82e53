# korvel's key bindings for zsh: pick paths below the working directory
# with korvel and put them on the command line, or go to a picked directory.
#
# Load them from ~/.zshrc:
#     eval "$(korvel --shell zsh)"
# (or: source /usr/share/korvel/korvel.zsh, where korvel is installed).
#
#   Alt-I  inserts the picked paths at the cursor, each quoted for zsh
#   Alt-M  changes to the picked directory (for a picked file, the one it is in)
#
# korvel lists the files and directories below the working directory (or
# runs $KORVEL_DEFAULT_COMMAND); Tab marks paths, o picks, q picks nothing.
# For other keys, set KORVEL_INSERT_KEY and KORVEL_CD_KEY before loading, in
# bindkey's notation ('^Xp'); an empty value binds nothing. The widgets are
# korvel-insert-paths and korvel-cd, for binding with bindkey yourself.

# Runs korvel on the terminal; the picked paths land in reply.
__korvel_pick() {
    local out
    # Command substitution keeps NUL bytes in zsh; the output ends with
    # one, so no newline of a name is trimmed.
    out=$(command korvel --print0 </dev/tty)
    reply=(${(0)out})
}

korvel-insert-paths() {
    emulate -L zsh
    local -a reply words
    local p
    __korvel_pick
    for p in $reply; do
        # A name that looks like an option must not become one.
        [[ $p == -* ]] && p=./$p
        words+=(${(q)p})
    done
    (( $#words )) && LBUFFER+="${(j: :)words} "
    zle reset-prompt
}

korvel-cd() {
    emulate -L zsh
    local -a reply
    __korvel_pick
    local dir=${reply[1]-}
    if [[ -n $dir ]]; then
        [[ -d $dir ]] || dir=${dir:h}
        # Relative paths start with ./, so that neither cdpath nor a leading
        # dash can take cd elsewhere.
        [[ $dir == /* ]] || dir=./$dir
        if builtin cd -- $dir; then
            # The prompt is drawn again below; what it shows may come from
            # precmd hooks, which only run before a new prompt.
            local hook
            for hook in precmd $precmd_functions; do
                (( $+functions[$hook] )) && $hook
            done
        fi
    fi
    zle reset-prompt
}

if [[ -o interactive ]]; then
    zle -N korvel-insert-paths
    zle -N korvel-cd
    () {
        local map insert_key=${KORVEL_INSERT_KEY-'^[i'} cd_key=${KORVEL_CD_KEY-'^[m'}
        for map in emacs viins; do
            [[ -n $insert_key ]] && bindkey -M $map $insert_key korvel-insert-paths
            [[ -n $cd_key ]] && bindkey -M $map $cd_key korvel-cd
        done
    }
fi
