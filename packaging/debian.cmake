# The Debian package (`make deb`): CPack's DEB generator over the install
# rules, for the prefix /usr (the Makefile configures it so).
#
# Depends: the C++ libraries the programs link (dpkg-shlibdeps reads them
# off the binaries), and what `import quellmar` needs: python3 with numpy,
# xarray and netCDF4. Recommends: matplotlib, which only quellmar-plot's
# and quellmar-site's pictures need, and dask and dask.distributed, which
# open_mfdataset, chunks and computing over an archive on many processes or
# machines need;
# apt installs them by default, and without them quellmar-plot and xarray
# say what is missing.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quellmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quellmar developers <dev@quellmar.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "read archived radar wind profiler data (moments, spectra, RASS)")
set(CPACK_PACKAGE_DESCRIPTION
    "quellmar writes every dwell of a profiler file pair (d*.mom or d*.spc with its h* header file) as text; quellmar-info inspects a pair, quellmar-nc converts it to CF-Radial netCDF, quellmar-moments recomputes the moments from the spectra, quellmar-wind derives wind profiles, quellmar-rass derives virtual temperature profiles from the RASS dwells, quellmar-plot draws quicklooks, quellmar-site turns an archive into a static web site of daily pages kept up to date incrementally, and the Python package quellmar reads the files as xarray objects.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# With the extension module (quellmar._pairs), python3 of its ABI.
if(NOT QUELLMAR_PYTHON_DEPENDS)
  set(QUELLMAR_PYTHON_DEPENDS python3)
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "${QUELLMAR_PYTHON_DEPENDS}, python3-numpy, python3-xarray, python3-netcdf4")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-matplotlib, python3-dask, python3-distributed")
# Python writes __pycache__ beside the package when root imports it; the
# package's removal takes those along.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/prerm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
