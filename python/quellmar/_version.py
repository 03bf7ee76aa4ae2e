# The one version of the project: the Python package's, and the C++
# programs' (the top-level CMakeLists.txt reads this line).
__version__ = "0.6.0"
