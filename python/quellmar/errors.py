"""The one exception of the package: a file that cannot be read as asked."""


class QuellmarFileError(Exception):
    """A file that cannot be read as the product asked for."""
