"""A stand-in for LibreOffice's uno module, for the bridge's tests: one office with one presentation,
whose PDF export the test holds. The export writes half its file, says so in $FAKE_UNO/storing, and
writes the rest once $FAKE_UNO/go exists (30 s at most), then $FAKE_UNO/done. It writes from a process
of its own, as the office goes on with an export after its client went away."""

import os
import subprocess

_WRITER = """printf half > "$1" && : > "$2/storing"
i=0
while [ ! -e "$2/go" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done
printf 'half and the rest' > "$1"
: > "$2/done"
"""


class _Office:
    """The component context, its service manager, the resolver, the desktop and the document at once."""

    @property
    def ServiceManager(self):
        return self

    def createInstanceWithContext(self, name, context):
        return self

    def resolve(self, url):
        return self

    def getCurrentComponent(self):
        return self

    def supportsService(self, name):
        return True


def getComponentContext():
    return _Office()


def Any(kind, value):
    return value


def systemPathToFileUrl(path):
    return "file://" + path


def invoke(document, method, arguments):
    if method != "storeToURL":
        raise RuntimeError("the fake office cannot %s" % method)
    path = arguments[0][len("file://"):]
    # Nothing of the script that asked is the writer's: it outlives the script's output streams too.
    subprocess.run(["/bin/sh", "-c", _WRITER, "sh", path, os.environ["FAKE_UNO"]], start_new_session=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
