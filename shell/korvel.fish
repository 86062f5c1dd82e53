# korvel's key bindings for fish: pick paths below the working directory
# with korvel and put them on the command line, or go to a picked directory.
#
# Load them from ~/.config/fish/config.fish:
#     korvel --shell fish | source
# (or: source /usr/share/korvel/korvel.fish, where korvel is installed).
#
#   Alt-I  inserts the picked paths at the cursor, each quoted for fish
#   Alt-M  changes to the picked directory (for a picked file, the one it is in)
#
# korvel lists the files and directories below the working directory (or
# runs $KORVEL_DEFAULT_COMMAND); Tab marks paths, o picks, q picks nothing.
# For other keys, set KORVEL_INSERT_KEY and KORVEL_CD_KEY before loading, as
# bind takes them (\cxp); an empty value binds nothing. The functions are
# korvel_insert_paths and korvel_cd, for binding with bind yourself.
# Needs fish 3.5 or later.

# Runs korvel on the terminal and prints the picked paths, split at the NUL
# bytes that end them, so that a command substitution keeps each whole.
function __korvel_pick
    command korvel --print0 </dev/tty | string split0
end

function korvel_insert_paths -d 'Insert paths picked with korvel at the cursor'
    set -l words
    for p in (__korvel_pick)
        # A name that looks like an option must not become one.
        string match -q -- '-*' $p; and set p ./$p
        set -a words (string escape -- $p)
    end
    if set -q words[1]
        commandline -i -- (string join -- ' ' $words)' '
    end
    commandline -f repaint
end

function korvel_cd -d 'Change to a directory picked with korvel'
    set -l dir (__korvel_pick)[1]
    if test -n "$dir"
        test -d $dir; or set dir (path dirname -Z -- $dir | string split0)
        # Relative paths start with ./, so that neither CDPATH nor a leading
        # dash can take cd elsewhere.
        string match -q -- '/*' $dir; or set dir ./$dir
        cd $dir
    end
    commandline -f repaint
end

if status is-interactive
    set -l insert_key \ei
    set -q KORVEL_INSERT_KEY; and set insert_key $KORVEL_INSERT_KEY
    set -l cd_key \em
    set -q KORVEL_CD_KEY; and set cd_key $KORVEL_CD_KEY
    for mode in default insert
        test -n "$insert_key"; and bind -M $mode $insert_key korvel_insert_paths
        test -n "$cd_key"; and bind -M $mode $cd_key korvel_cd
    end
end
