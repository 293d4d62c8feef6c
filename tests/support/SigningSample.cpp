// A small program that the trust tests sign with their test publishers.
int main()
{
    return 0;
}
