"""quellmar-site: an archive folder of profiler file pairs as a static web
site of daily pages, built incrementally.

    cli        the command line and one run: lock, scan, build, pages
    files      writing under a temporary name and renaming; the lock
    scan       the archive's data files, their fingerprints and days
    day        one day's products, pictures and summary (a worker's task)
    pages      the HTML and CSS of the day, month and index pages

The run itself imports no numpy, xarray or matplotlib: a run in which
nothing changed reads the manifest, looks at the files and stops.
"""
