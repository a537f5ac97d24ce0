// Browsing the real program in a terminal.
