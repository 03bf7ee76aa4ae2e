"""The site's pages: plain HTML5 and one style sheet, relative links only
(the site works from any folder of a web server and opened from disk), no
script, nothing fetched from elsewhere.

    index.html             the station, the latest day, a calendar per month
    style.css
    YYYY/MM/index.html     a month: its calendar and its days
    YYYY/MM/DD.html        a day: summary, pictures, products
    YYYY/MM/DD/            the day's pictures and products
"""

import calendar
import datetime
import html

STATUS_TEXT = {"data": "a full day of data", "partial": "part of the day",
               "damaged": "damage found", "none": "no data"}
STATUS_MARK = {"data": "●", "partial": "◐", "damaged": "✕", "none": ""}

CSS = """\
:root { color-scheme: light; --ink: #1b1f24; --muted: #555d66; --line: #c9ced6;
  --data: #2e7d32; --partial: #b26a00; --damaged: #b3261e; --link: #0b57d0; }
* { box-sizing: border-box; }
body { margin: 0 auto; max-width: 72rem; padding: 0 1rem 2rem; font: 1rem/1.5 system-ui,
  -apple-system, "Segoe UI", Roboto, "DejaVu Sans", sans-serif; color: var(--ink);
  background: #fff; }
a { color: var(--link); }
a:focus-visible { outline: 3px solid #ffb300; outline-offset: 2px; }
header { border-bottom: 1px solid var(--line); margin-bottom: 1rem; }
h1 { font-size: 1.6rem; margin: 1rem 0 0.25rem; }
h2 { font-size: 1.3rem; margin: 1.75rem 0 0.5rem; }
h3 { font-size: 1.1rem; margin: 1.25rem 0 0.5rem; }
nav ul { list-style: none; padding: 0; margin: 0.5rem 0; display: flex; flex-wrap: wrap;
  gap: 0.5rem 1.25rem; }
img { max-width: 100%; height: auto; border: 1px solid var(--line); }
figure { margin: 0 0 1rem; }
.gallery { display: grid; grid-template-columns: repeat(auto-fill, minmax(17rem, 1fr));
  gap: 0 1.25rem; align-items: start; }
.gallery h3 { font-size: 1rem; }
dl.summary { display: grid; grid-template-columns: max-content 1fr; gap: 0.25rem 1rem; }
dl.summary dt { font-weight: 600; }
dl.summary dd { margin: 0; min-width: 0; }
dd, li, p { overflow-wrap: anywhere; }
@media (max-width: 40rem) {
  dl.summary { display: block; }
  dl.summary dd { margin: 0 0 0.5rem; }
  body { padding: 0 0.5rem 1rem; }
}
.months { display: flex; flex-wrap: wrap; gap: 1rem 2rem; }
.month { min-width: 15rem; }
table.calendar { border-collapse: collapse; }
table.calendar caption { text-align: left; font-weight: 600; padding-bottom: 0.25rem; }
table.calendar th, table.calendar td { width: 2.4rem; height: 2.2rem; text-align: center;
  border: 1px solid var(--line); padding: 0; }
table.calendar th { font-weight: 600; color: var(--muted); font-size: 0.85rem; }
table.calendar td a { display: block; line-height: 2.2rem; text-decoration: none;
  font-weight: 600; }
td.data { background: #e3f1e4; } td.data .mark { color: var(--data); }
td.partial { background: #fff1d6; } td.partial .mark { color: var(--partial); }
td.damaged { background: #fbe3e1; } td.damaged .mark { color: var(--damaged); }
td.none { color: var(--muted); }
.mark { font-size: 0.7rem; vertical-align: super; margin-left: 1px; }
.legend .data { color: var(--data); } .legend .partial { color: var(--partial); }
.legend .damaged { color: var(--damaged); }
.legend { list-style: none; padding: 0; display: flex; flex-wrap: wrap; gap: 0.25rem 1rem; }
.visually-hidden { position: absolute; width: 1px; height: 1px; overflow: hidden;
  clip: rect(0 0 0 0); white-space: nowrap; }
.note { color: var(--muted); }
footer { margin-top: 2rem; border-top: 1px solid var(--line); color: var(--muted);
  font-size: 0.9rem; }
"""


def e(text):
    return html.escape(str(text), quote=True)


def page(title, root, body):
    """A whole page; root is the relative way up to the site's top folder."""
    return """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>%s</title>
<link rel="stylesheet" href="%sstyle.css">
<link rel="icon" href="data:,">
</head>
<body>
%s
<footer><p>Made by quellmar-site from the profiler's data files.</p></footer>
</body>
</html>
""" % (e(title), root, body)


def day_path(date):
    """YYYY/MM/DD.html of an ISO date."""
    return "%s/%s/%s.html" % (date[:4], date[5:7], date[8:10])


def day_folder(date):
    return "%s/%s/%s" % (date[:4], date[5:7], date[8:10])


def long_date(date):
    d = datetime.date.fromisoformat(date)
    return "%d %s %d" % (d.day, calendar.month_name[d.month], d.year)


def month_name(key):
    return "%s %s" % (calendar.month_name[int(key[5:7])], key[:4])


def summary_line(record):
    s = record["summary"]
    text = "%d records, %d of 24 hours" % (s.get("records", 0), s.get("hours", 0))
    return "%s (%s)" % (text, STATUS_TEXT[record["status"]])


def month_table(key, days, root):
    """The calendar of month key (YYYY-MM): each day with a page linked and
    marked by its status. Links are relative to root (the site's top)."""
    year, month = int(key[:4]), int(key[5:7])
    rows = []
    for week in calendar.Calendar(firstweekday=0).monthdayscalendar(year, month):
        cells = []
        for d in week:
            if d == 0:
                cells.append("<td></td>")
                continue
            date = "%s-%02d" % (key, d)
            record = days.get(date)
            if record is None:
                cells.append('<td class="none">%d<span class="visually-hidden">, no data'
                             '</span></td>' % d)
                continue
            status = record["status"]
            cells.append('<td class="%s"><a href="%s%s">%d<span class="mark" aria-hidden="true">'
                         '%s</span><span class="visually-hidden">, %s</span></a></td>'
                         % (status, root, day_path(date), d, STATUS_MARK[status],
                            STATUS_TEXT[status]))
        rows.append("<tr>%s</tr>" % "".join(cells))
    head = "".join('<th scope="col"><abbr title="%s">%s</abbr></th>' % (n, n[:2])
                   for n in calendar.day_name)
    return ('<table class="calendar">\n<caption><a href="%s%s/%s/index.html">%s</a></caption>\n'
            '<thead><tr>%s</tr></thead>\n<tbody>\n%s\n</tbody>\n</table>'
            % (root, key[:4], key[5:7], month_name(key), head, "\n".join(rows)))


LEGEND = ('<ul class="legend">' + "".join(
    '<li><span class="mark %s" aria-hidden="true">%s</span> %s</li>'
    % (s, STATUS_MARK[s] or "–", STATUS_TEXT[s]) for s in ("data", "partial", "damaged", "none"))
    + "</ul>")


def pictures_html(record, prefix, level):
    out = []
    for name, alt, heading, width, height in record["pictures"]:
        out.append('<figure>\n<h%d>%s</h%d>\n<a href="%s%s"><img src="%s%s" alt="%s" '
                   'width="%d" height="%d"></a>\n</figure>'
                   % (level, e(heading), level, prefix, e(name), prefix, e(name), e(alt),
                      width, height))
    return "\n".join(out)


def station_text(site, station):
    parts = [e(site)] if site else []
    if station.get("latitude") is not None and station.get("longitude") is not None:
        parts.append("%g° N, %g° E" % (station["latitude"], station["longitude"]))
    if station.get("altitude") is not None:
        parts.append("%g m above sea level" % station["altitude"])
    if station.get("wmo_block") is not None:
        parts.append("WMO station %02d%03d" % (station["wmo_block"], station["wmo_station"]))
    return ", ".join(parts)


def size_text(path):
    import os
    try:
        n = os.path.getsize(path)
    except OSError:
        return ""
    for unit in ("bytes", "KB", "MB", "GB"):
        if n < 1000 or unit == "GB":
            return ("%d %s" % (n, unit)) if unit == "bytes" else ("%.1f %s" % (n, unit))
        n /= 1000.0


def day_page(record, previous, following, title, station, site_dir):
    import os
    date = record["date"]
    s = record["summary"]
    folder = date[8:10] + "/"
    nav = ['<li><a href="index.html">%s</a></li>' % e(month_name(date[:7])),
           '<li><a href="../../index.html">All days</a></li>']
    if previous:
        nav.insert(0, '<li><a href="../../%s" rel="prev">Previous day: %s</a></li>'
                   % (day_path(previous), previous))
    if following:
        nav.append('<li><a href="../../%s" rel="next">Next day: %s</a></li>'
                   % (day_path(following), following))
    rows = [("Status", STATUS_TEXT[record["status"]]),
            ("Records", "%d%s" % (s.get("records", 0),
                                  " (%s to %s UTC)" % (s["first"], s["last"])
                                  if s.get("first") else "")),
            ("Hours covered", "%d of 24" % s.get("hours", 0))]
    if s.get("highest_winds"):
        rows.append(("Winds in most periods up to",
                     "; ".join("%.0f m (mode %d, %d periods)" % (h, m, n)
                               for m, h, n in s["highest_winds"])))
    else:
        rows.append(("Winds in most periods up to", "no height"))
    if s.get("precipitation_hours") is None:
        rows.append(("Precipitation hours", "not known (no spectra to recompute the "
                                            "moments from)"))
    else:
        rows.append(("Precipitation hours", "%d" % s["precipitation_hours"]))
    if s.get("damage"):
        rows.append(("Damage found", "; ".join(
            "%s: %d finding(s)%s" % (d["file"], d["count"],
                                     (" (" + "; ".join(d["lines"]) + ")") if d["lines"] else "")
            for d in s["damage"])))
    else:
        rows.append(("Damage found", "none"))
    rows.append(("Data files", ", ".join(record["inputs"])))
    body = ['<header>\n<h1>%s, %s</h1>\n<p>%s</p>\n<nav aria-label="Days">\n<ul>\n%s\n</ul>\n'
            '</nav>\n</header>\n<main>'
            % (e(title), e(long_date(date)), station_text(record.get("site", ""), station),
               "\n".join(nav))]
    body.append("<h2>Summary</h2>\n<dl class=\"summary\">\n%s\n</dl>" % "\n".join(
        "<dt>%s</dt><dd>%s</dd>" % (e(k), e(v)) for k, v in rows))
    body.append("<h2>Pictures</h2>")
    body.append(pictures_html(record, folder, 3) if record["pictures"]
                else '<p class="note">No pictures: the day has no records to draw.</p>')
    body.append("<h2>Products</h2>")
    if record["products"]:
        body.append("<ul>\n%s\n</ul>" % "\n".join(
            '<li><a href="%s%s">%s</a>: %s (%s)</li>'
            % (folder, e(name), e(name), e(what),
               size_text(os.path.join(site_dir, day_folder(date), name)))
            for name, what in record["products"]))
    else:
        body.append('<p class="note">No products for this day.</p>')
    if record["notes"]:
        body.append("<h2>Notes</h2>\n<ul>\n%s\n</ul>" % "\n".join(
            "<li>%s</li>" % e(n) for n in record["notes"]))
    body.append("</main>")
    return page("%s, %s" % (title, date), "../../", "\n".join(body))


def month_page(key, days, months, title):
    """The page of month key; days: {date: record} of every day;
    months: the sorted month keys that have days."""
    at = months.index(key)
    nav = ['<li><a href="../../index.html">All days</a></li>']
    if at > 0:
        nav.insert(0, '<li><a href="../../%s/%s/index.html" rel="prev">%s</a></li>'
                   % (months[at - 1][:4], months[at - 1][5:7], e(month_name(months[at - 1]))))
    if at + 1 < len(months):
        nav.append('<li><a href="../../%s/%s/index.html" rel="next">%s</a></li>'
                   % (months[at + 1][:4], months[at + 1][5:7], e(month_name(months[at + 1]))))
    in_month = sorted(d for d in days if d.startswith(key))
    items = "\n".join('<li><a href="%s.html">%s</a>: %s</li>'
                      % (d[8:10], e(long_date(d)), e(summary_line(days[d])))
                      for d in in_month)
    body = ('<header>\n<h1>%s, %s</h1>\n<nav aria-label="Months">\n<ul>\n%s\n</ul>\n</nav>\n'
            '</header>\n<main>\n<h2>Calendar</h2>\n%s\n%s\n<h2>Days</h2>\n<ul>\n%s\n</ul>\n</main>'
            % (e(title), e(month_name(key)), "\n".join(nav), month_table(key, days, "../../"),
               LEGEND, items))
    return page("%s, %s" % (title, month_name(key)), "../../", body)


def index_page(days, title, station):
    dates = sorted(days)
    body = ['<header>\n<h1>%s</h1>' % e(title)]
    if not dates:
        body.append("<p>No days yet: the archive holds no data files.</p>\n</header>\n<main>"
                    "</main>")
        return page(title, "", "\n".join(body))
    latest = days[dates[-1]]
    body.append("<p>%s. Days from %s to %s: %d with records.</p>\n</header>\n<main>"
                % (station_text(latest.get("site", ""), station) or "Profiler",
                   e(long_date(dates[0])), e(long_date(dates[-1])), len(dates)))
    body.append('<h2>Latest day: <a href="%s">%s</a></h2>\n<p>%s.</p>'
                % (day_path(dates[-1]), e(long_date(dates[-1])), e(summary_line(latest))))
    body.append('<div class="gallery">\n%s\n</div>' % pictures_html(
        latest, day_folder(dates[-1]) + "/", 3)
                if latest["pictures"] else '<p class="note">No pictures for this day.</p>')
    body.append("<h2>Calendar</h2>\n%s" % LEGEND)
    months = sorted({d[:7] for d in dates}, reverse=True)
    body.append('<div class="months">\n%s\n</div>' % "\n".join(
        '<div class="month">%s</div>' % month_table(m, days, "") for m in months))
    body.append("</main>")
    return page(title, "", "\n".join(body))
