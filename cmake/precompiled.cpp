// Compiles the shared precompiled headers of a build folder; this object
// itself is linked nowhere.
