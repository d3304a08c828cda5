// Runs the C# decoding functions of docs/api.md on a list answer that holds
// an address in the server's code page, and sends that address back in an
// auth request. The harness accepts a server certificate issued by the
// authority given in TESSALINE_TEST_CA_FILE; the example's own checks are
// tested by running the example.
// Prints the form field, the full name, the address as people read it, and
// auth's answer, one a line.
using System;
using System.Linq;
using System.Net.Http;
using System.Net.Http.Headers;
using System.Security.Cryptography.X509Certificates;
using System.Text;
using System.Text.RegularExpressions;

public static class CodePageHarness
{
    public static int Main()
    {
        var authority = new X509Certificate2(Environment.GetEnvironmentVariable("TESSALINE_TEST_CA_FILE"));
        using (var handler = new HttpClientHandler())
        {
            handler.ServerCertificateCustomValidationCallback = (request, certificate, chain, errors) =>
                certificate.Issuer == authority.Subject;
            using (var client = new HttpClient(handler))
            {
                string caller = Environment.GetEnvironmentVariable("TESSALINE_USER") + ":" +
                                Environment.GetEnvironmentVariable("TESSALINE_PASSWORD");
                client.DefaultRequestHeaders.Authorization =
                    new AuthenticationHeaderValue("Basic", Convert.ToBase64String(Encoding.ASCII.GetBytes(caller)));
                string text = CodePageBody.Text(Post(client, "cmd=list"));
                // The sample's strings hold no escapes, so a pattern reads them as a JSON parser would.
                Match account = Regex.Matches(text, "\"userName\": \"([^\"]*)\", \"fullName\": \"([^\"]*)\"")
                    .Cast<Match>().Single(match => match.Groups[1].Value.Any(c => c > 0x7F));
                string address = account.Groups[1].Value;
                string field = CodePageBody.FormField("user", CodePageBody.AddressBytes(address));
                // ISO-8859-1 reads 0xEB as 1252 does; Mono here has no 1252 tables.
                Console.OutputEncoding = new UTF8Encoding(false);
                Console.WriteLine(field);
                Console.WriteLine(CodePageBody.FullName(account.Groups[2].Value));
                Console.WriteLine(CodePageBody.Readable(address, Encoding.GetEncoding(28591)));
                Console.Write(Encoding.ASCII.GetString(Post(client, "cmd=auth&" + field + "&pass=zoe-pass")));
                return 0;
            }
        }
    }

    static byte[] Post(HttpClient client, string form)
    {
        var content = new StringContent(form, Encoding.ASCII, "application/x-www-form-urlencoded");
        string url = Environment.GetEnvironmentVariable("TESSALINE_URL");
        using (var response = client.PostAsync(url, content).GetAwaiter().GetResult())
        {
            response.EnsureSuccessStatusCode();
            return response.Content.ReadAsByteArrayAsync().GetAwaiter().GetResult();
        }
    }
}
