"""The VARNO engine over a simulated Mac library."""
