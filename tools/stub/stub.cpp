// The smallest program: no window, no version resource. Tests copy it to make product program files
// and give it version resources of their own.
int main() {
    return 0;
}
