// Composition root of the agent (being built).
int main() { return 0; }
