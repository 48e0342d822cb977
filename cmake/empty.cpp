// Lets a library target exist before it has sources of its own.
