"""The PowerPoint scripts of the bundle on Linux, answered by LibreOffice Impress.

This module is the bridge: a resident process of the user's own that holds a UNO connection to a
running LibreOffice over a named pipe (a local socket of the user's; nothing listens on the network)
and answers the scripts over a Unix socket in the user's runtime folder:

    impress_bridge.py serve <socket> [<idle seconds>]

Each PowerPoint script in Resources is a small program (ImpressScriptClient) that asks this bridge,
starting it when none listens, and follows the runner's protocol: exit status 0 with the result on
standard output, one line feed after it, or no output at all for "no result"; a failure exits 1 with
the error number on the first line of standard error and a message on the second. The bridge makes
its connection on the first request, makes it again when LibreOffice went away and came back, and
ends after a while without requests. Where the user has no runtime folder, a script runs

    impress_bridge.py run <script name>

which connects for this one run and answers the same way.

Impress accepts the connection when it was started with

    soffice --impress --accept="pipe,name=podiumcast;urp;StarOffice.ComponentContext"

or when its expert setting org.openoffice.Setup/Office/ooSetupConnectionURL holds the text
between the quotation marks. PODIUMCAST_IMPRESS_PIPE names another pipe.

The presentation is the document in front in LibreOffice (the desktop's current component) when
it is an Impress presentation; when no document is in front, the first presentation open. A
Writer, Calc or Draw document in front means that no presentation is open, like no LibreOffice at
all. While a slide show runs, its deck stays in front of documents opened later.

Notes. The Current note is the note of the slide shown; the Next note is the note of the slide
that comes next (empty when none does). The Alternate note is the note of the previous slide, the
one a step back returns to (empty on the first slide). The "Slide" scripts answer for the running
slide show, whose next and previous slides skip hidden slides; the "Page" scripts answer for the
editing view, in document order.

Slide numbers count from 1 in document order, hidden slides included, and the PDF export has one
page per slide, hidden ones too, so that slide n is page n of the PDF.
"""

import fcntl
import os
import select
import shutil
import signal
import socket
import struct
import sys
import tempfile
import threading
import time

PIPE_ENVIRONMENT = "PODIUMCAST_IMPRESS_PIPE"
DEFAULT_PIPE = "podiumcast"

# Error numbers of the runner protocol, in the numbering the bridge's callers know.
NOT_RUNNING = -600  # no LibreOffice accepts the connection
CONNECTION_LOST = -609  # LibreOffice went away during the run
TIMED_OUT = -1712  # LibreOffice did not answer in time
NO_SUCH_OBJECT = -1728  # no presentation, no slide show, no such slide
SCRIPT_ERROR = -2700  # anything else

# Seconds a script waits for LibreOffice before it gives up. The bridge's runner kills a script
# after 120 s; an export gives up before that, so that it can still remove its partial file.
QUERY_LIMIT = 15
EXPORT_LIMIT = 110
# Seconds without a request after which the bridge ends.
IDLE_LIMIT = 300
# The exit status of a bridge that found another serving its socket.
ANOTHER_BRIDGE = 3

PRESENTATION_SERVICE = "com.sun.star.presentation.PresentationDocument"
NOTES_SHAPE = "com.sun.star.presentation.NotesShape"
HUNDREDTH_MM_PER_POINT = 2540.0 / 72.0


class Failure(Exception):
    def __init__(self, number, message):
        super().__init__(message)
        self.number = number


class NoPresentation(Failure):
    def __init__(self, message="no presentation is open in LibreOffice Impress"):
        super().__init__(NO_SUCH_OBJECT, message)


def _write(stream, text):
    stream.buffer.write(text.encode("utf-8", "surrogateescape"))
    stream.flush()


def _fail_now(name, number, message):
    _write(sys.stderr, "%d\n%s: %s\n" % (number, name, message))
    os._exit(1)


def _lost(error):
    """Whether the error says that the UNO bridge to LibreOffice is gone: the office ended or crashed."""
    return type(error).__name__.endswith("DisposedException")


class Office:
    """The UNO connection to LibreOffice, made on first use and again after the office went away."""

    def __init__(self):
        self.uno = None
        self.desktop = None
        # The runtime id of the document last asked about, with its slide show and its slides: each
        # object fetched over the connection costs about a millisecond, a call on one kept a tenth.
        self.kept = None

    def connect(self):
        try:
            import uno
        except ImportError as error:
            # Without Debian's python3-uno no LibreOffice can be reached.
            raise Failure(NOT_RUNNING, "the uno module is missing (%s)" % error)
        self.uno = uno
        pipe = os.environ.get(PIPE_ENVIRONMENT) or DEFAULT_PIPE
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        try:
            context = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
        except Exception as error:
            raise Failure(NOT_RUNNING, "LibreOffice does not accept a connection on the pipe %s (%s)" % (pipe, error))
        self.desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
        self.kept = None

    def run(self, script, folder=None):
        """The script's result. A connection found gone is made once more: the office may have been
        started again since."""
        while True:
            fresh = self.desktop is None
            if fresh:
                self.connect()
            try:
                return script(Impress(self, folder))
            except Exception as error:
                if not _lost(error):
                    raise
                self.desktop = None
                if fresh:
                    raise


class Impress:
    """The presentation in front of one office, as one request sees it."""

    def __init__(self, office, folder=None):
        self.office = office
        self.uno = office.uno
        self.desktop = office.desktop
        self.folder = folder  # where exports go; the temporary folder when None
        self._document = None

    @staticmethod
    def _is_presentation(component):
        try:
            return component is not None and component.supportsService(PRESENTATION_SERVICE)
        except AttributeError:
            return False  # a component without service information: the start centre, a help window

    @property
    def document(self):
        if self._document is None:
            front = self.desktop.getCurrentComponent()
            if front is not None:
                if not self._is_presentation(front):
                    raise NoPresentation("the document in front is not a presentation")
                self._document = front
            else:
                components = self.desktop.getComponents().createEnumeration()
                while components.hasMoreElements():
                    component = components.nextElement()
                    if self._is_presentation(component):
                        self._document = component
                        break
                if self._document is None:
                    raise NoPresentation()
        return self._document

    def path(self):
        """The document's file path, its address when it is not a local file, its title when it was
        never saved."""
        url = self.document.getURL()
        if url.startswith("file:"):
            return self.uno.fileUrlToSystemPath(url)
        if url:
            return url
        return self.document.getTitle()

    def _kept(self):
        """The slide show and the slides of the document, fetched once for each document."""
        uid = self.document.RuntimeUID
        if self.office.kept is None or self.office.kept[0] != uid:
            self.office.kept = (uid, self.document.getPresentation(), self.document.getDrawPages())
        return self.office.kept

    def presentation(self):
        return self._kept()[1]

    def show(self):
        """The controller of the running slide show, or None."""
        presentation = self.presentation()
        if not presentation.isRunning():
            return None
        return presentation.getController()

    def slides(self):
        return self._kept()[2]

    def slide_count(self):
        return self.slides().getCount()

    def slide(self, index):
        """The slide at a 0-based index in document order, or None."""
        slides = self.slides()
        if 0 <= index < slides.getCount():
            return slides.getByIndex(index)
        return None

    def editing_page(self):
        """The slide the editing view shows."""
        controller = self.document.getCurrentController()
        page = getattr(controller, "CurrentPage", None) if controller is not None else None
        if page is None:
            raise NoPresentation("the presentation shows no slide in its window")
        return page

    def editing_index(self):
        return self.editing_page().Number - 1

    def note_of(self, index):
        return note_of_slide(self.slide(index))


def _property(name, content):
    from com.sun.star.beans import PropertyValue

    item = PropertyValue()
    item.Name = name
    item.Value = content
    return item


def note_of_slide(slide):
    if slide is None:
        return ""
    notes = slide.getNotesPage()
    # The notes are the last shape of a notes page, after the picture of the slide, unless the
    # page was rearranged.
    count = notes.getCount()
    for i in ([count - 1] + list(range(count - 1))) if count else []:
        shape = notes.getByIndex(i)
        if shape.getShapeType() == NOTES_SHAPE:
            return shape.getString()
    return ""


# The slide show counts its own slides: positions in the sequence it shows, which can leave out
# hidden slides. A slide's Number is its place in the document.


def _running_show(impress):
    show = impress.show()
    if show is None:
        raise NoPresentation("the slide show is not running")
    return show


def _position(show):
    """The position in the show of what the show shows."""
    position = show.getCurrentSlideIndex()
    if position < 0:
        raise NoPresentation("the slide show shows no slide")
    return position


def _showing(show):
    """The position in the show and the slide of what the show shows."""
    position = _position(show)
    slide = show.getCurrentSlide()
    if slide is None:
        raise NoPresentation("the slide show shows no slide")
    return position, slide


def _show_slide(show, position):
    if 0 <= position < show.getSlideCount():
        return show.getSlideByIndex(position)
    return None


def _show_previous(show, position):
    for earlier in range(position - 1, -1, -1):
        slide = show.getSlideByIndex(earlier)
        if slide.Visible:
            return slide
    return None


def _note(in_show, word):
    def script(impress):
        if in_show:
            show = _running_show(impress)
            if word == "Current":
                return note_of_slide(_showing(show)[1])
            position = _position(show)
            if word == "Next":
                return note_of_slide(_show_slide(show, show.getNextSlideIndex()))
            return note_of_slide(_show_previous(show, position))
        page = impress.editing_page()
        if word == "Current":
            return note_of_slide(page)
        return impress.note_of(page.Number - 1 + {"Next": 1, "Alternate": -1}[word])
    return script


def _points(hundredths_of_mm):
    text = "%.2f" % (hundredths_of_mm / HUNDREDTH_MM_PER_POINT)
    return text.rstrip("0").rstrip(".")


def is_open(impress):
    return impress.path()


def is_playing(impress):
    # Any result means the show runs; no output is no result.
    return "yes" if impress.presentation().isRunning() else None


def play(impress):
    """Starts the slide show from its beginning, unless it runs already. A document that names its
    own first slide or custom show starts as its slide-show settings say; otherwise the show
    starts at the first slide that is not hidden (Impress by itself would start at the slide the
    editing view shows)."""
    presentation = impress.presentation()
    if presentation.isRunning():
        return None
    if presentation.FirstPage or presentation.CustomShow:
        presentation.start()
        return None
    slides = impress.slides()
    for index in range(slides.getCount()):
        slide = slides.getByIndex(index)
        if slide.Visible:
            presentation.startWithArguments((_property("FirstPage", slide.Name),))
            break
    return None


def current_show_slide(impress):
    return str(_showing(_running_show(impress))[1].Number)


def current_page(impress):
    return str(impress.editing_index() + 1)


def slide_count(impress):
    return str(impress.slide_count())


def _size(attribute):
    def script(impress):
        first = impress.slide(0)
        if first is None:
            raise NoPresentation("the presentation has no slide")
        return _points(getattr(first, attribute))
    return script


def export_pdf(impress):
    """Exports every slide, one page each, to a new file in the temporary folder and answers its
    path; the application moves the file into its cache. LibreOffice writes the file in a folder of
    its own, and only the finished file is moved out beside it: a run that gives up removes that
    folder, and an office that goes on writing afterwards finds nowhere to put the file."""
    value = _property
    document = impress.document
    with _exports_lock:
        work = tempfile.mkdtemp(prefix="podiumcast-export-", dir=impress.folder)
        _exports_under_way.append(work)
    inside = os.path.join(work, "export.pdf")
    filter_data = impress.uno.Any("[]com.sun.star.beans.PropertyValue",
                                  (value("ExportHiddenSlides", True), value("ExportNotesPages", False),
                                   value("ExportOnlyNotesPages", False)))
    # No interaction handler: a problem is an exception here, never a dialog in LibreOffice.
    arguments = (value("FilterName", "impress_pdf_Export"), value("FilterData", filter_data),
                 value("Overwrite", True))
    impress.uno.invoke(document, "storeToURL", (impress.uno.systemPathToFileUrl(inside), arguments))
    if os.path.getsize(inside) == 0:
        raise Failure(SCRIPT_ERROR, "LibreOffice wrote an empty PDF")
    with _exports_lock:
        handle, path = tempfile.mkstemp(prefix="podiumcast-", suffix=".pdf", dir=impress.folder)
        os.close(handle)
        os.replace(inside, path)
        _exports_finished.append(path)
        _exports_under_way.remove(work)
    shutil.rmtree(work, ignore_errors=True)  # what LibreOffice left beside the file (its lock file)
    return path


SCRIPTS = {
    "isPptOpenOrNot": is_open,
    "isPptPlayingOrNot": is_playing,
    "playPpt": play,
    "getPptCurrentSlideIndex": current_show_slide,
    "getPptCurrentSlideNumber": current_page,
    "getPptTotalSlideCount": slide_count,
    "getPptWidth": _size("Width"),
    "getPptHeight": _size("Height"),
    "ppt2Pdf": export_pdf,
}
for _word in ("Current", "Next", "Alternate"):
    SCRIPTS["getPpt%sSlideNote" % _word] = _note(True, _word)
    SCRIPTS["getPpt%sPageNote" % _word] = _note(False, _word)

# What the exports made: the folders of exports under way, which a failing or expiring run removes with
# everything in them, and the finished files whose path has not reached the script's runner yet.
_exports_lock = threading.Lock()
_exports_under_way = []
_exports_finished = []


def _remove_partial_exports():
    with _exports_lock:
        for work in _exports_under_way:
            shutil.rmtree(work, ignore_errors=True)
        del _exports_under_way[:]


def _take_finished_exports():
    """The finished files, which the caller now answers for."""
    with _exports_lock:
        finished = list(_exports_finished)
        del _exports_finished[:]
    return finished


def _remove(paths):
    for path in paths:
        try:
            os.remove(path)
        except OSError:
            pass


def _limit(name):
    return EXPORT_LIMIT if name == "ppt2Pdf" else QUERY_LIMIT


def _failure(name, number, message):
    return 1, "%d\n%s: %s\n" % (number, name, message)


def answer(name, office, folder=None):
    """What a run of the script gives: (0, its standard output) or (1, its standard error)."""
    script = SCRIPTS.get(name)
    if script is None:
        return _failure(name, SCRIPT_ERROR, "no such script")
    try:
        result = office.run(script, folder)
    except Failure as failure:
        _remove_partial_exports()
        if name == "isPptOpenOrNot" and failure.number in (NOT_RUNNING, NO_SUCH_OBJECT):
            return 0, "no\n"
        return _failure(name, failure.number, str(failure))
    except Exception as error:
        _remove_partial_exports()
        lost = _lost(error)
        if name == "isPptOpenOrNot" and lost:
            return 0, "no\n"
        return _failure(name, CONNECTION_LOST if lost else SCRIPT_ERROR, "%s: %s" % (type(error).__name__, error))
    return 0, "" if result is None else result + "\n"


def _encoded(text):
    return text.encode("utf-8", "surrogateescape")


def _watch(name, seconds, expire):
    """Calls expire when LibreOffice has not answered in time: a busy or stuck office, a pipe that
    accepts and never answers. Should the timer thread never get to run, the alarm ends the process a
    little later."""
    timer = threading.Timer(seconds, expire)
    timer.daemon = True
    timer.start()
    signal.alarm(seconds + 3)
    return timer


def main(name):
    """One run of the script in this process, with a connection of its own. The script runs on a thread
    of its own, so that the main thread takes a SIGTERM at once, also while LibreOffice works: the runner
    that sends it takes no answer any more, and what the export made goes before the process ends as
    the signal says."""
    def expire():
        _remove_partial_exports()
        _remove(_take_finished_exports())
        _fail_now(name, TIMED_OUT, "LibreOffice did not answer within %d s" % _limit(name))

    def terminated(number, frame):
        _remove_partial_exports()
        _remove(_take_finished_exports())
        signal.signal(number, signal.SIG_DFL)
        os.kill(os.getpid(), number)

    outcome = []
    done = threading.Event()

    def run():
        outcome.append(answer(name, Office()))
        done.set()

    signal.signal(signal.SIGTERM, terminated)
    _watch(name, _limit(name), expire)
    threading.Thread(target=run, daemon=True).start()
    while not done.wait(1.0):
        pass
    status, text = outcome[0]
    _write(sys.stdout if status == 0 else sys.stderr, text)
    # Leave without taking the UNO bridge down in order: nothing needs it any more.
    os._exit(status)


class Bridge:
    """Answers the scripts on a Unix socket, one request at a time, until a while passes without one or
    the socket is no longer its own."""

    def __init__(self, path, idle_limit):
        self.path = path
        self.idle_limit = idle_limit
        self.office = Office()
        self.identity = None
        self.replying = threading.Lock()

    def _own_socket(self):
        try:
            info = os.stat(self.path)
        except OSError:
            return False
        return (info.st_dev, info.st_ino) == self.identity

    def _leave(self, status):
        if self._own_socket():
            os.unlink(self.path)
        os._exit(status)

    def serve(self):
        os.umask(0o077)
        os.chdir("/")
        # One bridge per socket: the lock is held for the bridge's life.
        lock = os.open(self.path + ".lock", os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o600)
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            os._exit(ANOTHER_BRIDGE)
        os.ftruncate(lock, 0)
        os.write(lock, b"%d\n" % os.getpid())
        try:
            os.unlink(self.path)  # left by a bridge that was killed
        except FileNotFoundError:
            pass
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.bind(self.path)
        os.chmod(self.path, 0o600)
        info = os.stat(self.path)
        self.identity = (info.st_dev, info.st_ino)
        server.listen(16)
        last = time.monotonic()
        while True:
            ready, _, _ = select.select([server], [], [], 1.0)
            if ready:
                try:
                    client, _ = server.accept()
                except OSError:
                    continue  # the script went away before it was taken
                with client:
                    try:
                        self._answer(client)
                    except Exception:
                        pass  # the script went away (ended by its runner) or sent no request
                last = time.monotonic()
            elif time.monotonic() - last >= self.idle_limit or not self._own_socket():
                self._leave(0)

    def _answer(self, client):
        uid = struct.unpack("3i", client.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i")))[1]
        if uid != os.getuid():
            return
        client.sendall(b"H")
        client.settimeout(5)
        request = b""
        while request.count(b"\0") < 2:
            chunk = client.recv(4096)
            if not chunk:
                return
            request += chunk
        name, folder = (os.fsdecode(part) for part in request.split(b"\0")[:2])
        if not (folder.startswith("/") and os.path.isdir(folder)):
            folder = None
        done = []

        def expire():
            # The office does not answer: answer for it, and end, leaving the stuck call behind.
            with self.replying:
                if done:
                    return
                _remove_partial_exports()
                _remove(_take_finished_exports())
                status, text = _failure(name, TIMED_OUT, "LibreOffice did not answer within %d s" % _limit(name))
                try:
                    client.sendall(b"1" + _encoded(text))
                except OSError:
                    pass
                self._leave(1)

        timer = _watch(name, _limit(name), expire)
        status, text = answer(name, self.office, folder)
        with self.replying:
            done.append(True)
            timer.cancel()
            signal.alarm(0)
        finished = _take_finished_exports()
        if not self._deliver(client, b"%d" % status + _encoded(text), finished):
            _remove(finished)  # nobody will move the file anywhere

    @staticmethod
    def _deliver(client, reply, wait):
        """Sends the reply; with wait, whether the client took it. A client that reads the answer to its
        end closes the connection; one that went away before, or closes with the answer unread (ended
        by its runner), leaves it broken or reset."""
        try:
            client.sendall(reply)
            if not wait:
                return True
            client.shutdown(socket.SHUT_WR)
            while client.recv(4096):
                pass
            return True
        except socket.timeout:
            return True  # the client lives and holds the answer
        except OSError:
            return False


if __name__ == "__main__":
    if len(sys.argv) in (3, 4) and sys.argv[1] == "serve":
        Bridge(sys.argv[2], float(sys.argv[3]) if len(sys.argv) == 4 else IDLE_LIMIT).serve()
    elif len(sys.argv) == 3 and sys.argv[1] == "run":
        main(sys.argv[2])
    else:
        sys.stderr.write("usage: impress_bridge.py serve <socket> [<idle seconds>] | run <script name>\n")
        sys.exit(2)
