"""The exception and the warning of the package: a file that cannot be read
as asked, and damage found in a pair that was read all the same."""


class QuellmarFileError(Exception):
    """A file that cannot be read as the product asked for."""


class QuellmarDamageWarning(UserWarning):
    """A damage finding in a file pair that was read all the same."""
