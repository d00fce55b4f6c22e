#!/usr/bin/env python3
"""Writes the benchmark site: L list pages of K article links each, and the articles.

    make_fixture.py OUTDIR ARTICLES [PER_LIST]

Articles are about 20 KB of mixed Chinese/ASCII HTML: the title in <h1>, the body between
comment markers with <p>, <b> and <img> inside, navigation and side links around, and a
<script> in the head that holds "<div>". Each article is linked from exactly one list page,
under one address. The output is the same for the same arguments (fixed seed).

OUTDIR/expected.tsv holds one line per article: path, title, length of the body after the
image filter; the bench checks stored rows against it.
"""
import os
import random
import sys

SEED = 20261211
# Common characters, so the text looks like news copy.
HANZI = ("的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下"
         "过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两"
         "体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线"
         "内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并"
         "提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见"
         "计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处理府研质信")
WORDS = ("market server update report city river data open cloud index search build "
         "news sport travel music health energy science school garden network").split()
BODY_START = "<!--body-start-->"
BODY_END = "<!--body-end-->"
LIST_START = "<!--list-start-->"
LIST_END = "<!--list-end-->"


def hanzi(rng, n):
    return "".join(rng.choice(HANZI) for _ in range(n))


def sentence(rng):
    parts = []
    for _ in range(rng.randint(3, 6)):
        if rng.random() < 0.3:
            parts.append(" ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 3))))
        else:
            parts.append(hanzi(rng, rng.randint(4, 12)))
    return "，".join(parts) + "。"


def head(title):
    return ('<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>%s</title>\n'
            '<script type="text/javascript">var tpl = "<div>" + "</div>"; '
            'function nav(){ return tpl; }</script>\n'
            '<link rel="stylesheet" href="/css/site.css"></head>\n<body>\n' % title)


def nav(rng, lists):
    items = ['<a href="/">首页</a>', '<a href="/about.html">关于 About</a>']
    for _ in range(8):
        n = rng.randint(1, lists)
        items.append('<a href="/list/%d.html">栏目%d</a>' % (n, n))
    return '<div class="nav">%s</div>\n' % " | ".join(items)


def side(rng):
    links = ['<li><a href="/tag/%s.html">%s %s</a></li>' % (rng.choice(WORDS), hanzi(rng, 4),
                                                          rng.choice(WORDS)) for _ in range(12)]
    return '<div class="side"><ul>%s</ul></div>\n' % "".join(links)


def article_title(rng, n):
    return "第%d篇 %s %s %s" % (n, hanzi(rng, 6), rng.choice(WORDS).capitalize(), hanzi(rng, 4))


def article_body(rng, n):
    paras = []
    size = 0
    i = 0
    while size < 17500:
        s = "".join(sentence(rng) for _ in range(rng.randint(2, 4)))
        if i % 3 == 1:
            k = rng.randint(2, 8)
            s = s[:k] + "<b>" + s[k:k + 10] + "</b>" + s[k + 10:]
        if i % 4 == 2:
            s += '<img src="/img/%d_%d.jpg" alt="%s" />' % (n, i, hanzi(rng, 3))
        paras.append("<p>%s</p>" % s)
        size += len(s.encode("utf-8"))
        i += 1
    return "\n".join(paras)


def strip_img(body):
    # What the job's tag filter <img.*?>|</img> leaves (no </img> in the fixture).
    out, pos = [], 0
    while True:
        a = body.find("<img", pos)
        if a < 0:
            out.append(body[pos:])
            return "".join(out)
        out.append(body[pos:a])
        pos = body.index(">", a) + 1


def main():
    outdir, total = sys.argv[1], int(sys.argv[2])
    per_list = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    lists = (total + per_list - 1) // per_list
    rng = random.Random(SEED)
    os.makedirs(os.path.join(outdir, "list"), exist_ok=True)
    os.makedirs(os.path.join(outdir, "a"), exist_ok=True)
    # Articles are spread over the lists in a shuffled order, as a real site's ids would be.
    ids = list(range(1, total + 1))
    rng.shuffle(ids)
    expected = []
    for li in range(lists):
        mine = ids[li * per_list:(li + 1) * per_list]
        rows = []
        for n in mine:
            rows.append('<li><span class="d">2026-12-%02d</span><a href="/a/%06d.html" '
                        'title="t%d">%s</a></li>' % (n % 28 + 1, n, n, hanzi(rng, 10)))
        page = (head("列表 %d" % (li + 1)) + nav(rng, lists) + side(rng) +
                '<div class="list">' + LIST_START + "<ul>\n" + "\n".join(rows) + "\n</ul>" +
                LIST_END + "</div>\n" +
                '<div class="pages"><a href="/list/%d.html">下一页</a></div>\n' % (li % lists + 2) +
                "</body></html>\n")
        with open(os.path.join(outdir, "list", "%d.html" % (li + 1)), "w", encoding="utf-8") as f:
            f.write(page)
    for n in range(1, total + 1):
        title = article_title(rng, n)
        body = article_body(rng, n)
        page = (head(title + " - 站点") + nav(rng, lists) + side(rng) +
                '<div class="main"><h1>%s</h1>\n<div class="info">来源：%s</div>\n' %
                (title, hanzi(rng, 4)) +
                '<div class="content">' + BODY_START + body + BODY_END + "</div>\n" +
                '<div class="related">%s</div></div>\n' % "".join(
                    '<a href="/tag/%s.html">%s</a> ' % (rng.choice(WORDS), hanzi(rng, 5))
                    for _ in range(10)) +
                "</body></html>\n")
        with open(os.path.join(outdir, "a", "%06d.html" % n), "w", encoding="utf-8") as f:
            f.write(page)
        expected.append("/a/%06d.html\t%s\t%d" % (n, title, len(strip_img(body))))
    with open(os.path.join(outdir, "expected.tsv"), "w", encoding="utf-8") as f:
        f.write("\n".join(expected) + "\n")
    with open(os.path.join(outdir, "about.html"), "w", encoding="utf-8") as f:
        f.write(head("About") + "<p>bench fixture</p></body></html>\n")
    with open(os.path.join(outdir, "counts"), "w") as f:
        f.write("%d %d\n" % (lists, total))


if __name__ == "__main__":
    main()
