#!/bin/sh
# Switches Wi-Fi over: off when it is on, on when it is off (NetworkManager).
# Run without arguments; prints the new state.
state=$(nmcli radio wifi) || exit $?
case $state in
enabled)
    nmcli radio wifi off && echo off ;;
disabled)
    nmcli radio wifi on && echo on ;;
*)
    echo "wifi: unexpected Wi-Fi state: $state" >&2
    exit 1 ;;
esac
