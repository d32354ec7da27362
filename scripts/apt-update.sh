# apt_update [PREFIX...]: runs PREFIX apt-get update -q (PREFIX: a command that runs
# it elsewhere, in a chroot), again after a pause when it fails (a mirror in mid-sync
# serves an index of the wrong size for a while). After the last try it warns and
# goes on: the install that follows names what it lacks.
apt_update() {
    local try
    for try in 1 2 3 4; do
        "$@" apt-get update -q && return 0
        [ $try -lt 4 ] && { echo "apt-get update failed (try $try of 4); again in $((try * 15)) s" >&2; sleep $((try * 15)); }
    done
    echo "apt-get update failed 4 times; going on with the package lists there are" >&2
    return 0
}

# apt_install SUITE COMMAND...: runs COMMAND (an apt-get install, perhaps in a chroot)
# and, if it fails, runs it again with -t SUITE. An index that failed to download
# (often the security suite's i386 one) leaves the two architectures at different
# versions; the release's own suite has both.
apt_install() {
    local suite=$1
    shift
    "$@" && return 0
    echo "apt-get install failed; installing again from $suite alone" >&2
    "$@" -t "$suite"
}
