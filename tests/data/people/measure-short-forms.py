#!/usr/bin/env python3
"""Asks the biography of every short form of short-forms.tsv (beside this file) and measures
(1) for how many of the forms with an entry his own entry is the first quotation, and
(2) the share of all quotations that are about the man meant: his own entry, or a quotation that
    holds the form, or his name and his father's, as a man's own name (not as a father's, not
    beside another man's given name); another man's numbered dictionary entry is never his.
Forms written "?" (no one man) are left out and listed.
With --book TITLE the entry numbers are those of the dictionary whose title holds TITLE (default
تقريب), and (1) asks that his entry there be quoted with no other man's entry before it.
Usage: measure-short-forms.py QUORVEL LIBRARY_DB short-forms.tsv [held|tuned|all] [--book TITLE] [-v]"""
import json, os, re, subprocess, sys
from concurrent.futures import ThreadPoolExecutor

def norm(s):
    s = re.sub("[\u064B-\u0652\u0670\u0640]", "", s)
    s = re.sub("[أإآٱ]", "ا", s).replace("ى", "ي").replace("ة", "ه")
    s = re.sub(r"(^|\s)ابن(?=\s)", r"\1بن", s)
    return re.sub(r"(^|(?<=\s))(و?)اب[يا](?=\s)", r"\1\2ابو", s)

GIVEN = set(norm(w) for w in """محمد أحمد علي عمر عمرو عثمان يوسف يحيى إبراهيم إسماعيل إسحاق الحسن الحسين حسن حسين سلم مسلم
سالم أنس زيد سعيد سعد عاصم حفص حماد حمزة بلال جعفر خالد موسى عيسى هشام هارون داود سليمان أيوب يزيد يونس عبيد
الله الرحمن الملك العزيز طلحة الزبير مصعب معاذ معاوية وهب عروة عبد""".split())

def alone(q, form):
    """The form in the quotation as a man's own name, not as his father's nor within a longer name."""
    qq, f = " " + norm(q) + " ", norm(form)
    for m in re.finditer(r"(?<=[\s،,.:؛(«\"و])" + re.escape(f) + r"(?=[\s،,.:؛)»\"])", qq):
        before = qq[:m.start()].rstrip().split()
        if before and before[-1] in ("بن", "بنت"):
            continue
        if f.startswith("بن ") and before and before[-1] in GIVEN:
            continue
        return True
    return False

def names(man):
    """The names a quotation may call him by: his name and his father's, and any kunya in it."""
    w = norm(man).split()
    out = []
    if "بن" in w:
        i = w.index("بن")
        if i > 0:
            out.append(" ".join(w[max(0, i - (2 if i >= 2 and w[i-2] in ("عبد","ابو","ام")  else 1)):i + 2]))
    for k in range(len(w) - 1):
        if w[k] in ("ابو", "ام"):
            out.append(" ".join(w[k:k + 2]))
    return [n for n in out if len(n.split()) >= 2]

def entry_no(q):
    m = re.match(r"\s*([0-9]+)\s*-?\s", q)
    return m.group(1) if m else None

def quotations(text):
    out = []
    for line in text.splitlines():
        m = re.match(r"^- .*? في «(.*?)»: «(.*)»\s*\[[0-9٠-٩]+\]\s*$", line)
        if m:
            out.append((m.group(1), m.group(2)))
    return out

def ask(qbin, db, form):
    env = dict(os.environ, QUORVEL_LIBDB=db, QUORVEL_NO_LLM="1")
    p = subprocess.run([qbin, "--ai", "biography", form], capture_output=True, text=True, timeout=600, env=env)
    try:
        return json.loads(p.stdout.splitlines()[0]).get("text", "")
    except (ValueError, IndexError):
        return ""

def main():
    qbin, db, tsv = sys.argv[1:4]
    which = sys.argv[4] if len(sys.argv) > 4 and not sys.argv[4].startswith("-") else "all"
    verbose = "-v" in sys.argv
    book = sys.argv[sys.argv.index("--book") + 1] if "--book" in sys.argv else None
    numbered_in = book or "تقريب"
    rows = []
    for line in open(tsv, encoding="utf-8"):
        if line.startswith("#") or not line.strip():
            continue
        form, count, man, entry, also, held = (line.rstrip("\n").split("\t") + [""] * 6)[:6]
        if which == "held" and held != "held": continue
        if which == "tuned" and held == "held": continue
        rows.append((form, man, entry, also))
    with ThreadPoolExecutor(3) as ex:
        texts = list(ex.map(lambda r: ask(qbin, db, r[0]), rows))
    firsts = with_entry = about = total = 0
    unsettled = []
    for (form, man, entry, also), text in zip(rows, texts):
        if entry == "?":
            unsettled.append(form)
            continue
        qs = quotations(text)
        def his(title, q):
            n = entry_no(q)
            if n is not None and numbered_in in title:
                return n in entry.split()
            if n is not None and book and not alone(q, form) and not any(alone(q, a) for a in names(man)):
                return False
            return alone(q, form) or any(alone(q, a) for a in names(man))
        first_ok = None
        if entry != "none":
            with_entry += 1
            if book:
                at = next((i for i, (t, q) in enumerate(qs) if numbered_in in t and entry_no(q) in entry.split()), None)
                first_ok = at is not None and all(his(t, q) for t, q in qs[:at])
            else:
                first_ok = bool(qs) and entry_no(qs[0][1]) == entry
            firsts += first_ok
        good = 0
        bad = []
        for title, q in qs:
            ok = his(title, q)
            good += ok
            if not ok: bad.append(q[:110])
        about += good; total += len(qs)
        mark = "ok " if (first_ok in (None, True) and not bad and qs) else "BAD"
        print("%s %-14s first:%s about:%d/%d" % (mark, form, {None: "-", True: "yes", False: "NO"}[first_ok], good, len(qs)))
        if verbose and (bad or first_ok is False):
            if qs: print("     first: «%s»" % qs[0][1][:120])
            for b in bad: print("     not him: «%s»" % b)
    print("own entry first: %d/%d; quotations about him: %d/%d (%.1f%%); unsettled: %s" % (
        firsts, with_entry, about, total, 100.0 * about / max(total, 1), "، ".join(unsettled) or "none"))

main()
