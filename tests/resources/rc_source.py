"""Reads the subset of the resource-script language that resources/ uses.

parse_header(text)          -> {macro: int or str} from resource_ids.h
parse_script(text, macros)  -> Script: LANGUAGE statements, dialogs, string
                               table, #pragma and #include lines

Only what the project's scripts contain is understood (DIALOGEX with its
STYLE, EXSTYLE, CAPTION and FONT statements and the usual control
statements, STRINGTABLE, LANGUAGE); anything else raises RcError, so a
script that grows beyond this reader fails the check instead of passing
unread.
"""

import re
from dataclasses import dataclass, field


class RcError(Exception):
    pass


@dataclass
class Token:
    kind: str  # 'str', 'num', 'id', 'punct', 'directive'
    value: object
    line: int


@dataclass
class Style:
    """Flags named in a style expression: those set and those removed (NOT)."""
    set: frozenset = frozenset()
    cleared: frozenset = frozenset()


@dataclass
class Control:
    kind: str          # LTEXT, CTEXT, PUSHBUTTON, DEFPUSHBUTTON, ICON, CONTROL
    text: object       # str, or an int for an ICON naming a numbered icon
    id: int
    rect: tuple        # (x, y, width, height) in dialog units
    window_class: str = ""  # CONTROL only
    style: Style = field(default_factory=Style)
    exstyle: Style = field(default_factory=Style)
    line: int = 0

    @property
    def hidden(self):
        return "WS_VISIBLE" in self.style.cleared


@dataclass
class Dialog:
    name: object
    rect: tuple
    style: Style = field(default_factory=Style)
    exstyle: Style = field(default_factory=Style)
    caption: str = ""
    font: tuple = ()   # (points, face)
    controls: list = field(default_factory=list)


@dataclass
class Script:
    languages: list = field(default_factory=list)   # [(LANG_x, SUBLANG_y)]
    dialogs: list = field(default_factory=list)
    strings: dict = field(default_factory=dict)     # id -> text
    duplicate_strings: list = field(default_factory=list)
    pragmas: list = field(default_factory=list)
    includes: list = field(default_factory=list)
    first_string_line: int = 0


_ESCAPES = {"n": "\n", "t": "\t", "\\": "\\", '"': '"', "r": "\r", "a": "\a", "0": "\0"}
_PUNCT = ",|()+-"


def tokenize(text):
    tokens = []
    i, line, n = 0, 1, len(text)
    at_line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
            at_line_start = True
            continue
        if c in " \t\r\ufeff":
            i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            if end < 0:
                raise RcError(f"line {line}: unterminated comment")
            line += text.count("\n", i, end)
            i = end + 2
            continue
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if c == "#" and at_line_start:
            end = text.find("\n", i)
            end = n if end < 0 else end
            tokens.append(Token("directive", text[i + 1:end].strip(), line))
            i = end
            continue
        at_line_start = False
        if c == '"':
            value, i, line = _read_string(text, i + 1, line)
            # Adjacent strings are joined, as the resource compiler does.
            if tokens and tokens[-1].kind == "str":
                tokens[-1].value += value
            else:
                tokens.append(Token("str", value, line))
            continue
        m = re.match(r"0[xX][0-9a-fA-F]+|\d+", text[i:])
        if m:
            tokens.append(Token("num", int(m.group(0), 0), line))
            i += len(m.group(0))
            if i < n and text[i] in "lLuU":
                i += 1
            continue
        m = re.match(r"[A-Za-z_][A-Za-z0-9_]*", text[i:])
        if m:
            tokens.append(Token("id", m.group(0), line))
            i += len(m.group(0))
            continue
        if c in _PUNCT:
            tokens.append(Token("punct", c, line))
            i += 1
            continue
        raise RcError(f"line {line}: unexpected character {c!r}")
    return tokens


def _read_string(text, i, line):
    out = []
    n = len(text)
    while i < n:
        c = text[i]
        if c == '"':
            if i + 1 < n and text[i + 1] == '"':
                out.append('"')
                i += 2
                continue
            return "".join(out), i + 1, line
        if c == "\\" and i + 1 < n:
            nxt = text[i + 1]
            if nxt not in _ESCAPES:
                raise RcError(f"line {line}: unknown escape \\{nxt}")
            out.append(_ESCAPES[nxt])
            i += 2
            continue
        if c == "\n":
            raise RcError(f"line {line}: string runs past the end of the line")
        out.append(c)
        i += 1
    raise RcError(f"line {line}: unterminated string")


def parse_header(text):
    """#define NAME value, where value is a number or SEA_RESOURCE_NAME("...")."""
    macros = {}
    for m in re.finditer(r"^#define\s+(\w+)\s+(.*?)\s*(?:/\*.*)?$", text, re.M):
        name, value = m.group(1), m.group(2)
        number = re.fullmatch(r"(0[xX][0-9a-fA-F]+|\d+)", value)
        text_name = re.fullmatch(r'SEA_RESOURCE_NAME\("([^"]*)"\)', value)
        if number:
            macros[name] = int(number.group(1), 0)
        elif text_name:
            macros[name] = text_name.group(1)
    return macros


CONTROL_KEYWORDS = {"LTEXT", "CTEXT", "RTEXT", "PUSHBUTTON", "DEFPUSHBUTTON", "ICON", "CONTROL"}


class _Parser:
    def __init__(self, tokens, macros):
        self.tokens = tokens
        self.macros = macros
        self.pos = 0

    def peek(self, offset=0):
        j = self.pos + offset
        return self.tokens[j] if j < len(self.tokens) else None

    def take(self, kind=None, value=None):
        tok = self.peek()
        if tok is None:
            raise RcError("unexpected end of script")
        if (kind and tok.kind != kind) or (value is not None and tok.value != value):
            raise RcError(f"line {tok.line}: expected {value or kind}, found {tok.value!r}")
        self.pos += 1
        return tok

    def at(self, kind, value=None):
        tok = self.peek()
        return tok is not None and tok.kind == kind and (value is None or tok.value == value)

    def resolve(self, tok):
        if tok.kind in ("num", "str"):
            return tok.value
        if tok.kind == "id" and tok.value in self.macros:
            return self.macros[tok.value]
        if tok.kind == "id":
            return tok.value  # a bare name (a name resource or a system constant)
        raise RcError(f"line {tok.line}: expected a value, found {tok.value!r}")

    def number(self):
        sign = -1 if self.at("punct", "-") else 1
        if sign < 0:
            self.take()
        value = self.resolve(self.take())
        if not isinstance(value, int):
            raise RcError(f"expected a number, found {value!r}")
        return sign * value

    def style(self):
        """Flags joined by '|', each optionally preceded by NOT; stops at ','."""
        set_flags, cleared = set(), set()
        while True:
            negate = False
            if self.at("id", "NOT"):
                self.take()
                negate = True
            tok = self.take()
            name = tok.value if tok.kind == "id" else tok.value
            (cleared if negate else set_flags).add(name)
            if self.at("punct", "|"):
                self.take()
                continue
            return Style(frozenset(set_flags), frozenset(cleared))

    def comma(self):
        if self.at("punct", ","):
            self.take()
            return True
        return False


def parse_script(text, macros):
    p = _Parser(tokenize(text), macros)
    script = Script()
    while p.peek() is not None:
        tok = p.peek()
        if tok.kind == "directive":
            p.take()
            if tok.value.startswith("pragma"):
                script.pragmas.append((tok.line, tok.value))
            elif tok.value.startswith("include"):
                script.includes.append(tok.value.split(None, 1)[1].strip('"<>'))
            continue
        if tok.kind == "id" and tok.value == "LANGUAGE":
            p.take()
            lang = p.take("id").value
            p.take("punct", ",")
            sub = p.take("id").value
            script.languages.append((lang, sub))
            continue
        if tok.kind == "id" and tok.value == "STRINGTABLE":
            _parse_string_table(p, script)
            continue
        after = p.peek(1)
        if after is not None and after.kind == "id" and after.value == "DIALOGEX":
            script.dialogs.append(_parse_dialog(p))
            continue
        raise RcError(f"line {tok.line}: statement not understood: {tok.value!r}")
    return script


def _parse_string_table(p, script):
    p.take("id", "STRINGTABLE")
    p.take("id", "BEGIN")
    while not p.at("id", "END"):
        id_tok = p.take()
        number = p.resolve(id_tok)
        if not isinstance(number, int):
            raise RcError(f"line {id_tok.line}: string id {id_tok.value!r} is not a number")
        p.comma()
        text_tok = p.take("str")
        if not script.first_string_line:
            script.first_string_line = text_tok.line
        if number in script.strings:
            script.duplicate_strings.append(number)
        script.strings[number] = text_tok.value
    p.take("id", "END")


def _parse_dialog(p):
    name = p.resolve(p.take())
    p.take("id", "DIALOGEX")
    rect = [p.number()]
    for _ in range(3):
        p.take("punct", ",")
        rect.append(p.number())
    dialog = Dialog(name=name, rect=tuple(rect))
    while not p.at("id", "BEGIN"):
        key = p.take("id").value
        if key == "STYLE":
            dialog.style = p.style()
        elif key == "EXSTYLE":
            dialog.exstyle = p.style()
        elif key == "CAPTION":
            dialog.caption = p.take("str").value
        elif key == "FONT":
            points = p.number()
            p.take("punct", ",")
            face = p.take("str").value
            while p.comma():
                p.number()
            dialog.font = (points, face)
        else:
            raise RcError(f"dialog statement not understood: {key}")
    p.take("id", "BEGIN")
    while not p.at("id", "END"):
        dialog.controls.append(_parse_control(p))
    p.take("id", "END")
    return dialog


def _parse_control(p):
    kw = p.take("id")
    if kw.value not in CONTROL_KEYWORDS:
        raise RcError(f"line {kw.line}: control statement not understood: {kw.value}")
    text = p.resolve(p.take())
    p.take("punct", ",")
    control_id = p.number()
    p.take("punct", ",")
    control = Control(kind=kw.value, text=text, id=control_id, rect=(), line=kw.line)
    if kw.value == "CONTROL":
        control.window_class = p.take("str").value
        p.take("punct", ",")
        control.style = p.style()
        p.take("punct", ",")
    rect = [p.number()]
    for _ in range(3):
        p.take("punct", ",")
        rect.append(p.number())
    control.rect = tuple(rect)
    if p.comma():
        if kw.value == "CONTROL":
            control.exstyle = p.style()
        else:
            control.style = p.style()
            if p.comma():
                control.exstyle = p.style()
    return control
