"""LibreOffice's uno module as the bridge's tests want it: one office, one presentation, and a PDF export
that writes half its file, says so in $FAKE_UNO/storing, waits for $FAKE_UNO/go (30 s at most), writes
the rest and then $FAKE_UNO/done, from a process of its own, as the office writes on after its client
went away."""

import os
import subprocess

_WRITER = """printf half > "$1" && : > "$2/storing"
i=0
while [ ! -e "$2/go" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done
printf 'half and the rest' > "$1"
: > "$2/done"
"""


class _Office:
    """The context, its service manager, the resolver, the desktop and the document in one."""
    ServiceManager = property(lambda self: self)

    def createInstanceWithContext(self, name, context):
        return self

    resolve = getCurrentComponent = lambda self, *arguments: self
    supportsService = lambda self, name: True


getComponentContext = _Office
Any = lambda kind, value: value
systemPathToFileUrl = lambda path: "file://" + path


def invoke(document, method, arguments):
    assert method == "storeToURL", method
    # Nothing of the script that asked is the writer's, not even its output streams.
    subprocess.run(["/bin/sh", "-c", _WRITER, "sh", arguments[0][len("file://"):], os.environ["FAKE_UNO"]],
                   start_new_session=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
