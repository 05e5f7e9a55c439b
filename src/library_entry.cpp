// The shared library's own translation unit. Everything it exports lives in
// the internal library, linked in whole; the library's state is created when
// it is loaded and closed (every active port, in port order) when it is
// unloaded, by the static port table's constructor and destructor.
