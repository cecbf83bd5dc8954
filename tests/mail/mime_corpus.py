#!/usr/bin/python3
"""Writes a corpus of MIME messages and, beside them, what a reader must find.

Usage: mime_corpus.py FOLDER COUNT SEED

The messages are built with Python's email package. The expected values come
from what the generator put in (texts, names, addresses) and, for the bytes of
text attachments, from Python's own parser reading the written message back.
FOLDER/NNNN.eml holds message NNNN; FOLDER/expected.txt lists every message:

  message NNNN SHAPE
  subject HEX CHARSET        the subject as UTF-8, and the charset of its words
  from HEX                   the sender's address
  to HEX HEX                 one recipient: address, display name (UTF-8)
  body HEX CHARSET           body lines joined by LF, UTF-8; the declared charset
  att HEX HEX                one attachment: file name (bytes), data
  end

HEX is the hexadecimal form of the bytes ("-" for none).
"""

import email
import email.charset
import email.encoders
import email.policy
import random
import sys
from email.header import Header
from email.mime.application import MIMEApplication
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

CHARSETS = ["koi8-r", "windows-1251", "ibm866", "iso-8859-5", "utf-8"]
WORDS = ["Привет", "мир", "письмо", "счёт", "отчёт", "завтра", "встреча", "hello", "report",
         "Ёлка", "ЖУК", "съезд", "подъём", "42", "a=b", "_x_", "  two  spaces"]
POLICY = email.policy.compat32.clone(linesep="\r\n")


def hx(data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    return data.hex() if data else "-"


class Gen:
    def __init__(self, rnd):
        self.r = rnd

    def text(self, lines_max=6):
        lines = []
        for _ in range(self.r.randint(1, lines_max)):
            n = self.r.randint(0, 12)
            lines.append(" ".join(self.r.choice(WORDS) for _ in range(n)))
        while lines and lines[-1] == "":
            lines.pop()
        if not lines:
            lines = ["x"]
        return lines

    def charset(self):
        return self.r.choice(CHARSETS)

    def text_part(self, subtype, lines, cs, cte=None):
        charset = email.charset.Charset(cs)
        cte = cte or self.r.choice(["8bit", "qp", "base64"])
        charset.body_encoding = {"8bit": None, "qp": email.charset.QP,
                                 "base64": email.charset.BASE64}[cte]
        if subtype == "html":
            body = "<html><body>\n" + "\n".join("<p>%s</p>" % l for l in lines) + "\n</body></html>\n"
        else:
            body = "\n".join(lines) + "\n"
        return MIMEText(body, subtype, charset)

    def file_name(self, i):
        kind = self.r.randint(0, 3)
        if kind == 0:
            return "file%d.bin" % i, "plain"
        if kind == 1:
            return 'say "hi" %d.bin' % i, "plain"  # written with escaped quotes
        if kind == 2:
            return "отчёт %d.bin" % i, "rfc2231"
        return "data_%d.dat" % i, "plain"

    def file_part(self, i):
        data = bytes(self.r.getrandbits(8) for _ in range(self.r.randint(0, 3000)))
        part = MIMEApplication(data, "octet-stream")
        name, form = self.file_name(i)
        if form == "rfc2231":
            part.add_header("Content-Disposition", "attachment", filename=("utf-8", "", name))
        else:
            part.add_header("Content-Disposition", "attachment", filename=name)
        return part, name.encode("utf-8"), data

    def image_part(self):
        data = b"\x89PNG\r\n\x1a\n" + bytes(self.r.getrandbits(8) for _ in range(200))
        part = MIMEBase("image", "png")
        part.set_payload(data)
        email.encoders.encode_base64(part)
        part["Content-ID"] = "<img%d@corpus>" % self.r.randint(0, 999)
        part["Content-Disposition"] = "inline"
        return part, data

    def addresses(self):
        forms = []
        out = []
        for k in range(self.r.randint(1, 3)):
            f = self.r.randint(0, 4)
            a = "user%d@example.ru" % k
            if f == 0:
                forms.append(a)
                out.append((a, ""))
            elif f == 1:
                forms.append('"Petrov, Ivan" <%s>' % a)
                out.append((a, "Petrov, Ivan"))
            elif f == 2:
                forms.append('"O\\"Neil" <%s>' % a)
                out.append((a, 'O"Neil'))
            elif f == 3:
                forms.append("team: m%d@x.ru, Anna <n%d@x.ru>;" % (k, k))
                out += [("m%d@x.ru" % k, ""), ("n%d@x.ru" % k, "Anna")]
            else:
                forms.append("undisclosed-recipients:;")
        return ", ".join(forms), out


def build(g, shape):
    """The message of one shape and the parts a reader must find: the body
    (lines, charset, subtype) and the attachments in order as (name or None,
    part, data or None: None means "as Python decodes the part")."""
    cs = g.charset()
    body_lines = g.text()
    atts = []
    body_sub = "plain"

    def files(n, start=0):
        out = []
        for i in range(n):
            p, name, data = g.file_part(start + i)
            out.append((name, p, data))
        return out

    if shape == "single":
        msg = g.text_part("plain", body_lines, cs)
    elif shape == "mixed":
        msg = MIMEMultipart("mixed")
        msg.attach(g.text_part("plain", body_lines, cs))
        atts = files(g.r.randint(1, 3))
        for a in atts:
            msg.attach(a[1])
    elif shape == "alternative":
        msg = MIMEMultipart("alternative")
        plain = g.text_part("plain", body_lines, cs)
        html = g.text_part("html", body_lines, cs)
        for p in ([plain, html] if g.r.random() < 0.5 else [html, plain]):
            msg.attach(p)
        atts = [(None, html, None)]
    elif shape == "mixed_alt":
        msg = MIMEMultipart("mixed")
        alt = MIMEMultipart("alternative")
        html = g.text_part("html", body_lines, cs)
        alt.attach(g.text_part("plain", body_lines, cs))
        alt.attach(html)
        msg.attach(alt)
        atts = [(None, html, None)] + files(g.r.randint(1, 2), 1)
        for a in atts[1:]:
            msg.attach(a[1])
    elif shape == "related":
        msg = MIMEMultipart("mixed")
        rel = MIMEMultipart("related")
        alt = MIMEMultipart("alternative")
        html = g.text_part("html", body_lines, cs)
        alt.attach(g.text_part("plain", body_lines, cs))
        alt.attach(html)
        rel.attach(alt)
        img, img_data = g.image_part()
        rel.attach(img)
        msg.attach(rel)
        atts = [(None, html, None), (None, img, img_data)] + files(1, 2)
        msg.attach(atts[2][1])
    elif shape == "related_html":
        msg = MIMEMultipart("related")
        msg.attach(g.text_part("html", body_lines, cs))
        img, img_data = g.image_part()
        msg.attach(img)
        body_sub = "html"
        atts = [(None, img, img_data)]
    elif shape == "signed":
        msg = MIMEMultipart("signed", protocol="application/pgp-signature", micalg="pgp-sha256")
        inner = MIMEMultipart("mixed")
        inner.attach(g.text_part("plain", body_lines, cs))
        f = files(1)
        inner.attach(f[0][1])
        sig = MIMEApplication(b"-----BEGIN PGP SIGNATURE-----\n\nabc\n-----END PGP SIGNATURE-----\n",
                              "pgp-signature", name="signature.asc")
        msg.attach(inner)
        msg.attach(sig)
        atts = f + [(b"signature.asc", sig, None)]
    elif shape == "nested_later":
        msg = MIMEMultipart("mixed")
        msg.attach(g.text_part("plain", body_lines, cs))
        sub = MIMEMultipart("mixed")
        f = files(3)
        sub.attach(f[0][1])
        sub.attach(f[1][1])
        msg.attach(sub)
        msg.attach(f[2][1])
        atts = f
    elif shape == "text_file_star":
        msg = MIMEMultipart("mixed")
        msg.attach(g.text_part("plain", body_lines, cs))
        note = MIMEText("\n".join(g.text(3)) + "\n", "plain", "utf-8")
        note.add_header("Content-Disposition", "inline", filename=("utf-8", "", "заметка.txt"))
        msg.attach(note)
        atts = [("заметка.txt".encode("utf-8"), note, None)]
    else:
        raise ValueError(shape)
    return msg, cs, body_lines, body_sub, atts


def html_lines(lines):
    return ["<html><body>"] + ["<p>%s</p>" % l for l in lines] + ["</body></html>"]


def main():
    folder, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rnd = random.Random(seed)
    g = Gen(rnd)
    shapes = ["single", "mixed", "alternative", "mixed_alt", "related", "related_html",
              "signed", "nested_later", "text_file_star"]
    out = []
    for n in range(count):
        shape = shapes[n % len(shapes)]
        msg, cs, body_lines, body_sub, atts = build(g, shape)
        subject_cs = g.charset()
        subject = " ".join(g.r.choice(WORDS[:14]) for _ in range(g.r.randint(1, 5)))
        msg["Subject"] = Header(subject, subject_cs)
        sender_name = g.r.choice(["Иван Петров", "Анна", "Support"])
        msg["From"] = "%s <sender@example.ru>" % Header(sender_name, subject_cs).encode()
        to_text, to = g.addresses()
        msg["To"] = to_text
        if "MIME-Version" not in msg:
            msg["MIME-Version"] = "1.0"
        raw = msg.as_bytes(policy=POLICY)
        with open("%s/%04d.eml" % (folder, n), "wb") as f:
            f.write(raw)
        # What Python's own reader decodes from the written bytes.
        parsed = email.message_from_bytes(raw, policy=POLICY)
        decoded = {}
        for part in parsed.walk():
            if not part.is_multipart():
                decoded[len(decoded)] = part.get_payload(decode=True)
        leaves = [p for p in msg.walk() if not p.is_multipart()]
        out.append("message %04d %s" % (n, shape))
        out.append("subject %s %s" % (hx(subject), subject_cs))
        out.append("from %s" % hx("sender@example.ru"))
        for addr, name in to:
            out.append("to %s %s" % (hx(addr), hx(name)))
        lines = html_lines(body_lines) if body_sub == "html" else body_lines
        out.append("body %s %s" % (hx("\n".join(lines)), cs))
        for i, (name, part, data) in enumerate(atts):
            if data is None:
                data = decoded[leaves.index(part)]
            if name is None:
                in_alt = part.get_content_type() == "text/html"
                name = ("%s.%d" % ("_alt" if in_alt else "att", i)).encode()
            out.append("att %s %s" % (hx(name), hx(data)))
        out.append("end")
    with open(folder + "/expected.txt", "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
