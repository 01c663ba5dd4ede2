"""Reference models: the behaviour of each unit written the plain way, in
Python, shared by the tests and the fuzz harnesses."""
