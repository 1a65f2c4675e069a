"""Drives the LibreOffice of a test over its UNO pipe: makes decks, opens documents, moves the
editing view and the slide show, and reports what they show. Run with /usr/bin/python3.

    impress_fixture.py <pipe> ping
    impress_fixture.py <pipe> make-deck <path.pptx> <slides> [<hidden slide>,...]
    impress_fixture.py <pipe> open <path>
    impress_fixture.py <pipe> open-draw
    impress_fixture.py <pipe> close-front
    impress_fixture.py <pipe> goto-page <n>
    impress_fixture.py <pipe> show-next
    impress_fixture.py <pipe> end-show
    impress_fixture.py <pipe> state
    impress_fixture.py <pipe> quit

A deck slide n (from 1) is filled with colour COLOURS[(n - 1) % len(COLOURS)] and has the note
"Note of slide n"; slide 2's note has a second line, "second line: Grüße". Slides are 720 x 540
points. "state" prints "<show running 0/1> <show slide> <editing page>", slides from 1, 0 for
none. A command that fails exits 1 with the reason on standard error.
"""

import os
import sys

import uno
from com.sun.star.awt import Point, Size
from com.sun.star.beans import PropertyValue

COLOURS = [0xC0392B, 0x27AE60, 0x2E86C1, 0xF1C40F, 0x8E44AD, 0x16A085]
SLIDE_WIDTH = 25400  # 1/100 mm: 720 pt
SLIDE_HEIGHT = 19050  # 540 pt


def note_text(number):
    if number == 2:
        return "Note of slide 2\nsecond line: Grüße"
    return "Note of slide %d" % number


def value(name, content):
    item = PropertyValue()
    item.Name = name
    item.Value = content
    return item


def desktop(pipe):
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    context = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
    return context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)


def front_presentation(office):
    document = office.getCurrentComponent()
    if document is None or not document.supportsService("com.sun.star.presentation.PresentationDocument"):
        raise RuntimeError("no presentation in front")
    return document


def make_deck(office, path, count, hidden):
    document = office.loadComponentFromURL("private:factory/simpress", "_blank", 0, (value("Hidden", True),))
    try:
        slides = document.getDrawPages()
        while slides.getCount() < count:
            slides.insertNewByIndex(slides.getCount() - 1)
        for index in range(count):
            slide = slides.getByIndex(index)
            slide.Width = SLIDE_WIDTH
            slide.Height = SLIDE_HEIGHT
            # Drop the layout's placeholders: the slide is one coloured area.
            while slide.getCount():
                slide.remove(slide.getByIndex(0))
            area = document.createInstance("com.sun.star.drawing.RectangleShape")
            slide.add(area)
            area.Position = Point(0, 0)
            area.Size = Size(SLIDE_WIDTH, SLIDE_HEIGHT)
            area.FillColor = COLOURS[index % len(COLOURS)]
            area.LineStyle = uno.Enum("com.sun.star.drawing.LineStyle", "NONE")
            notes = slide.getNotesPage()
            for i in range(notes.getCount()):
                shape = notes.getByIndex(i)
                if shape.getShapeType() == "com.sun.star.presentation.NotesShape":
                    shape.setString(note_text(index + 1))
            if index + 1 in hidden:
                slide.Visible = False
        document.storeToURL(uno.systemPathToFileUrl(path),
                            (value("FilterName", "Impress MS PowerPoint 2007 XML"), value("Overwrite", True)))
    finally:
        document.close(True)


def main(arguments):
    pipe, command = arguments[0], arguments[1]
    office = desktop(pipe)
    if command == "ping":
        return
    if command == "make-deck":
        hidden = {int(n) for n in arguments[4].split(",")} if len(arguments) > 4 and arguments[4] else set()
        make_deck(office, arguments[2], int(arguments[3]), hidden)
    elif command == "open":
        office.loadComponentFromURL(uno.systemPathToFileUrl(arguments[2]), "_blank", 0, ())
    elif command == "open-draw":
        office.loadComponentFromURL("private:factory/sdraw", "_blank", 0, ())
    elif command == "close-front":
        office.getCurrentComponent().close(True)
    elif command == "goto-page":
        document = front_presentation(office)
        document.getCurrentController().setCurrentPage(document.getDrawPages().getByIndex(int(arguments[2]) - 1))
    elif command == "show-next":
        controller = front_presentation(office).getPresentation().getController()
        if controller is None:
            raise RuntimeError("the slide show is not running")
        controller.gotoNextSlide()
    elif command == "end-show":
        front_presentation(office).getPresentation().end()
    elif command == "state":
        document = front_presentation(office)
        presentation = document.getPresentation()
        controller = presentation.getController() if presentation.isRunning() else None
        show_slide = controller.getCurrentSlideIndex() + 1 if controller is not None else 0
        page = document.getCurrentController().CurrentPage.Number
        print("%d %d %d" % (controller is not None, show_slide, page))
    elif command == "quit":
        # A running slide show or a modified document would keep the office from ending.
        # A running slide show or a modified document would keep the office from ending. The
        # office may end by itself once its last document is closed, which takes the bridge down.
        try:
            components = office.getComponents().createEnumeration()
            while components.hasMoreElements():
                component = components.nextElement()
                try:
                    if hasattr(component, "getPresentation") and component.getPresentation().isRunning():
                        component.getPresentation().end()
                    if hasattr(component, "close"):
                        component.close(True)
                except Exception:
                    pass  # listed twice while its show ran, and closed already
            office.terminate()
        except Exception:
            pass
    else:
        raise RuntimeError("unknown command " + command)


if __name__ == "__main__":
    status = 0
    try:
        main(sys.argv[1:])
    except Exception as error:
        sys.stderr.write("%s: %s\n" % (type(error).__name__, error))
        status = 1
    # Leave without taking the UNO bridge down in order: that teardown, at the interpreter's exit,
    # now and then crashes the process after its command has done its work.
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(status)
