#!/bin/sh
# Searches the web for the text on the clipboard, in the default browser.
# Run without arguments; does nothing when the clipboard holds no text.
if command -v xclip >/dev/null 2>&1; then
    text=$(xclip -o -selection clipboard 2>/dev/null)
elif command -v xsel >/dev/null 2>&1; then
    text=$(xsel --clipboard --output 2>/dev/null)
elif command -v wl-paste >/dev/null 2>&1; then
    text=$(wl-paste --no-newline 2>/dev/null)
else
    echo "searchClipboard: no clipboard reader (xclip, xsel or wl-paste)" >&2
    exit 1
fi
[ -n "$text" ] || exit 0
# Every byte percent-encoded: always a valid query, whatever the text holds.
query=$(printf '%s' "$text" | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g')
exec xdg-open "https://www.google.com/search?q=$query"
