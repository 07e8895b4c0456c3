#!/usr/bin/python3
"""Walks through the running program as a user would, through its own menus and buttons, by
way of the desktop's accessibility layer (AT-SPI), and saves a screenshot after each step.

    scripts/tour.py SHOTS_FOLDER

The program must be running on the current display with accessibility on."""
import os
import subprocess
import sys
import time

import pyatspi

SHOTS = sys.argv[1]
TIMEOUT = 30


def log(text):
    print(f"tour: {text}", flush=True)


def app():
    end = time.time() + TIMEOUT
    while time.time() < end:
        for a in pyatspi.Registry.getDesktop(0):
            if a is not None and a.name == "korawin1":
                return a
        time.sleep(0.3)
    sys.exit("tour: the program did not show up on the accessibility bus")


def find(root, role, name, timeout=TIMEOUT):
    """The first accessible below root with the role and name (a prefix of the name does)."""
    end = time.time() + timeout
    while time.time() < end:
        found = pyatspi.findDescendant(
            root, lambda n: n is not None and n.getRoleName() == role and
            (n.name or "").replace("&", "").startswith(name))
        if found is not None:
            return found
        time.sleep(0.3)
    return None


def act(node, preferred=("click", "press", "Press", "activate", "toggle")):
    actions = node.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    for want in preferred:
        if want in names:
            actions.doAction(names.index(want))
            return
    actions.doAction(0)


def dismiss_messages(program):
    """Answers message boxes the step left open with their OK button."""
    for _ in range(3):
        box = pyatspi.findDescendant(
            program, lambda n: n is not None and n.getRoleName() in ("alert", "dialog") and
            find(n, "push button", "OK", 0.1) is not None)
        if box is None:
            return
        log("a message: " + " ".join(
            (n.name or "") for n in pyatspi.findAllDescendants(box, lambda n: n.getRoleName() == "label")))
        act(find(box, "push button", "OK", 0.1))
        time.sleep(0.5)


def shot(name):
    time.sleep(1.0)
    path = os.path.join(SHOTS, name + ".png")
    subprocess.run(["import", "-window", "root", path], check=True)
    log(f"screenshot {path}")


def menu(program, *path):
    """Chooses the item at the end of path; the menus above it are only looked in, so that no
    menu is left open on the screen."""
    node = program
    for caption in path:
        node = find(node, "menu item", caption) or find(node, "menu", caption)
        if node is None:
            sys.exit(f"tour: no menu item {caption!r}")
    act(node)
    time.sleep(0.4)


def filter_by_fragment(program, lexemes, fragment):
    """Types a fragment into the lexeme list and opens the list of the lexemes that hold it."""
    entry = find(lexemes, "text", "Фрагмент", 5) or pyatspi.findDescendant(
        lexemes, lambda n: n is not None and n.getRoleName() == "text")
    button = find(lexemes, "push button", "Отфильтровать", 5)
    if entry is None or button is None:
        return
    entry.queryEditableText().setTextContents(fragment)
    time.sleep(0.3)
    act(button)
    if find(program, "internal frame", "Отфильтрованн", 10) or find(program, "frame", "Отфильтрованн", 1):
        log(f"the lexemes holding {fragment!r} are listed")
        shot("6-filtered-lexemes")


def main():
    os.makedirs(SHOTS, exist_ok=True)
    program = app()
    frame = find(program, "frame", "Основное окно")
    log("the frame is open")
    shot("1-frame")
    # Any menu choice closes the splash; the word list opens from "Просмотр базы".
    menu(program, "Просмотр базы", "Список слов")
    if find(program, "frame", "Список СЛОВ", 10) or find(program, "internal frame", "Список СЛОВ", 1):
        log("the word list is open")
    shot("2-word-list")
    dismiss_messages(program)
    menu(program, "Просмотр базы", "Список лексем")
    lexemes = find(program, "internal frame", "Список  Лексем", 10) or \
        find(program, "frame", "Список  Лексем", 1)
    if lexemes is not None:
        log("the lexeme list is open")
        shot("3-lexeme-list")
        open_button = find(lexemes, "push button", "Открыть", 5)
        if open_button is not None:
            act(open_button)
            card = find(program, "dialog", "Лексема", 10) or find(program, "frame", "Лексема", 1)
            if card is not None:
                log("a card is open")
                shot("4-card-main-fields")
                tab = find(card, "page tab", "   Участники", 5)
                if tab is not None:
                    act(tab)
                    shot("5-card-participants")
                cancel = find(card, "push button", "Cancel", 5)
                if cancel is not None:
                    act(cancel)
        filter_by_fragment(program, lexemes, "2 (")
    menu(program, "Регистрация", "Exit")
    log("the program was asked to end")


if __name__ == "__main__":
    main()
