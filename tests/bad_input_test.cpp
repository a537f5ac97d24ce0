// Broken and hostile input through the real program.
