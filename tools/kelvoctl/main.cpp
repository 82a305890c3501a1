// kelvoctl, the agent's command-line companion (being built).
int main() { return 0; }
