"""The Scrapy side of the benchmark: the same pages, cuts, filter and rows as the Rizede job.

    /usr/bin/python3 scrapy_bench.py BASE_URL LISTS DB_PORT PREFIX

Storage follows the collector's statements one for one, through pymysql with autocommit:
for each link of a list page the link key goes into PREFIX + "PageUrl" (a known key drops
the link) and a row with the address into PREFIX + "Content"; each collected article then
updates its row with the labels and the collected flag.
"""
import hashlib
import re
import sys

import pymysql
import scrapy
from scrapy.crawler import CrawlerProcess

FLAGS = re.I | re.S | re.M
AREA = re.compile(r"<!--list-start-->(.*?)<!--list-end-->", FLAGS)
HREF = re.compile(r"""href=["']?([^"' >]+)""", FLAGS)
TITLE = re.compile(r"<h1>(.*?)</h1>", FLAGS)
BODY = re.compile(r"<!--body-start-->(.*?)<!--body-end-->", FLAGS)
IMG_FILTER = re.compile(r"<img.*?>|</img>", FLAGS)
SALT = "7K3Q8R1T5M"


def link_key(url):
    return hashlib.md5((SALT + url).encode("utf-16-le")).hexdigest()


class Store:
    def __init__(self, port, prefix):
        self.conn = pymysql.connect(host="127.0.0.1", port=port, user="root", password="",
                                    database="kitesoft", charset="utf8mb4", autocommit=True)
        self.prefix = prefix

    def new_link(self, url):
        """Row id of the new content row, or None when the link is known."""
        with self.conn.cursor() as cur:
            try:
                cur.execute("INSERT INTO %sPageUrl (Url) VALUES (%%s)" % self.prefix,
                            (link_key(url),))
            except pymysql.err.IntegrityError:
                return None
            cur.execute("INSERT INTO %sContent (PageUrl) VALUES (%%s)" % self.prefix, (url,))
            return cur.lastrowid

    def store_item(self, item):
        with self.conn.cursor() as cur:
            cur.execute("UPDATE %sContent SET `已采`=1, `标题`=%%s, `内容`=%%s, `PageUrl`=%%s "
                        "WHERE ID=%%s" % self.prefix,
                        (item["标题"], item["内容"], item["PageUrl"], item["ID"]))


class StorePipeline:
    def open_spider(self, spider):
        self.store = spider.store

    def process_item(self, item, spider):
        self.store.store_item(item)
        return item


class BenchSpider(scrapy.Spider):
    name = "bench"

    def __init__(self, base, lists, store, **kw):
        super().__init__(**kw)
        self.base = base
        self.lists = lists
        self.store = store

    def start_requests(self):
        for i in range(1, self.lists + 1):
            yield scrapy.Request("%s/list/%d.html" % (self.base, i), callback=self.parse_list)

    def parse_list(self, response):
        m = AREA.search(response.text)
        if not m:
            return
        for link in HREF.findall(m.group(1)):
            url = response.urljoin(link)
            row = self.store.new_link(url)
            if row is not None:
                yield scrapy.Request(url, callback=self.parse_article, cb_kwargs={"row": row})

    def parse_article(self, response, row):
        text = response.text
        t = TITLE.search(text)
        b = BODY.search(text)
        yield {"ID": row, "PageUrl": response.url, "标题": t.group(1) if t else "",
               "内容": IMG_FILTER.sub("", b.group(1)) if b else ""}


def main():
    base, lists, port, prefix = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    process = CrawlerProcess(settings={
        "CONCURRENT_REQUESTS": 16,
        "CONCURRENT_REQUESTS_PER_DOMAIN": 16,
        "DOWNLOAD_DELAY": 0,
        "AUTOTHROTTLE_ENABLED": False,
        "ROBOTSTXT_OBEY": False,
        "TELNETCONSOLE_ENABLED": False,
        "LOG_LEVEL": "WARNING",
        "ITEM_PIPELINES": {StorePipeline: 100},
        "REQUEST_FINGERPRINTER_IMPLEMENTATION": "2.7",
    })
    process.crawl(BenchSpider, base=base, lists=lists, store=Store(port, prefix))
    process.start()


if __name__ == "__main__":
    main()
