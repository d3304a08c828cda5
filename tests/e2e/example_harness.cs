// Runs the C# example of docs/api.md against the development host. The host's
// certificate is self-signed, so no authority vouches for it: this harness
// trusts that one certificate by its SHA-1 thumbprint, given in
// TESSALINE_TEST_THUMBPRINT, and nothing else.
using System;
using System.Net.Http;

public static class ExampleHarness
{
    public static int Main(string[] args)
    {
        string thumbprint = Environment.GetEnvironmentVariable("TESSALINE_TEST_THUMBPRINT");
        using (var handler = new HttpClientHandler())
        {
            handler.ServerCertificateCustomValidationCallback = (request, certificate, chain, errors) =>
                string.Equals(certificate.GetCertHashString(), thumbprint, StringComparison.OrdinalIgnoreCase);
            return TessalineExample.Run(handler, args);
        }
    }
}
