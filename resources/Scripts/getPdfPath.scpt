#!/bin/sh
# The folder of the PDF cache, ending in "/": PodiumCast/pdf/ in the user's cache folder, which is
# $XDG_CACHE_HOME when that is an absolute path and ~/.cache otherwise. Without either there is no
# folder to name, and the script fails.
cache=${XDG_CACHE_HOME:-}
case $cache in
/*) ;;
*)
    if [ -z "${HOME:-}" ]; then
        printf '%s\n%s\n' -1728 'getPdfPath: neither XDG_CACHE_HOME nor HOME is set' >&2
        exit 1
    fi
    cache=${HOME%/}/.cache
    ;;
esac
printf '%s/PodiumCast/pdf/\n' "${cache%/}"
