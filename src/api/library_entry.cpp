// The shared library is assembled from the static driver library; this unit only gives the
// linker a target of its own. The entry points live in the other files of this folder and
// the export list (exports.map here, b58spi.def on Windows) names exactly those fifteen.
