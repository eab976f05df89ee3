// Keeps the adapter library non-empty while every adapter is header-only.
