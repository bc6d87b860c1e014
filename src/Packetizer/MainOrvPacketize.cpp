// Placeholder entry; replaced by the real program.
int main() { return 0; }
