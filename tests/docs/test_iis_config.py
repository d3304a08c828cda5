"""Checks docs/iis-config.xml, the <location> fragment operators paste into
applicationHost.config, and that docs/iis.md configures the same handler.

Usage: test_iis_config.py docs/iis-config.xml docs/iis.md
Standard library only.
"""
import re
import sys
import unittest
import xml.etree.ElementTree as ElementTree

DLL_NAME = "TessalineIntegration.dll"

CONFIG_PATH = None
GUIDE_PATH = None


def split_list(value):
    return [item.strip().lower() for item in value.split(",") if item.strip()]


def handler_of(location):
    return location.find("./system.webServer/handlers/add[@name='TessalineIntegration']")


def fragment_problems(location):
    """What would keep IIS from handing every request to the extension."""
    if location.tag != "location" or not location.get("path"):
        return ["the root is not a <location path=...>"]
    handlers = location.find("./system.webServer/handlers")
    handler = handler_of(location)
    if handlers is None or handler is None:
        return ["no handler named TessalineIntegration"]

    problems = []
    script_processor = handler.get("scriptProcessor", "")
    if not script_processor.lower().endswith("\\" + DLL_NAME.lower()):
        problems.append(f"scriptProcessor {script_processor!r} does not name {DLL_NAME}")
    expected = {"modules": "IsapiModule", "requireAccess": "Execute", "preCondition": "bitness64"}
    for attribute, value in expected.items():
        if handler.get(attribute) != value:
            problems.append(f"{attribute} is {handler.get(attribute)!r}, not {value!r}")
    verbs = split_list(handler.get("verb", ""))
    if verbs != ["*"] and not {"get", "post"} <= set(verbs):
        problems.append(f"verb {handler.get('verb')!r} lets IIS, not the extension, answer GET")
    if "execute" not in split_list(handlers.get("accessPolicy", "")):
        problems.append(f"accessPolicy {handlers.get('accessPolicy')!r} lacks Execute")
    return problems


def quoted_values(text, pattern):
    return re.findall(pattern, text)


class Fragment(unittest.TestCase):
    def setUp(self):
        self.location = ElementTree.parse(CONFIG_PATH).getroot()

    def test_shipped_fragment_hands_every_verb_to_the_extension(self):
        self.assertEqual(fragment_problems(self.location), [])

    def test_each_broken_setting_is_caught(self):
        cases = [
            ("only POST", "handler", "verb", "POST"),
            ("script access", "handler", "requireAccess", "Script"),
            ("32-bit precondition", "handler", "preCondition", "bitness32"),
            ("CGI module", "handler", "modules", "CgiModule"),
            ("another DLL", "handler", "scriptProcessor", "C:\\inetpub\\other.dll"),
            ("default access policy", "handlers", "accessPolicy", "Read, Script"),
        ]
        for name, element, attribute, value in cases:
            with self.subTest(name):
                location = ElementTree.parse(CONFIG_PATH).getroot()
                target = handler_of(location) if element == "handler" else location.find("./system.webServer/handlers")
                target.set(attribute, value)
                self.assertNotEqual(fragment_problems(location), [])


class GuideAgreesWithFragment(unittest.TestCase):
    def setUp(self):
        self.location = ElementTree.parse(CONFIG_PATH).getroot()
        self.handler = handler_of(self.location)
        with open(GUIDE_PATH, encoding="utf-8") as guide:
            self.guide = guide.read()
        with open(CONFIG_PATH, encoding="utf-8") as config:
            # The fragment's comment carries the ISAPI and CGI Restrictions command.
            self.texts = {"guide": self.guide, "fragment": config.read()}

    def test_every_configured_dll_path_is_the_handlers(self):
        dll = re.escape(DLL_NAME)
        pattern = r"(?:path|scriptProcessor)\s*=\s*['\"]([A-Za-z]:\\[^'\"]*" + dll + r")['\"]"
        pattern += r"|-ScriptProcessor\s+['\"]([^'\"]+)['\"]"
        for name, text in self.texts.items():
            with self.subTest(name):
                paths = [a or b for a, b in re.findall(pattern, text)]
                self.assertTrue(paths, "no DLL path in a configuration command")
                self.assertEqual(set(paths), {self.handler.get("scriptProcessor")})

    def test_restriction_command_allows_the_handlers_dll(self):
        for name, text in self.texts.items():
            with self.subTest(name):
                commands = [line for line in text.splitlines() if "isapiCgiRestriction /+" in line]
                self.assertTrue(commands, "no command adds the ISAPI and CGI restriction")
                for command in commands:
                    self.assertIn(f"path='{self.handler.get('scriptProcessor')}'", command)
                    self.assertIn("allowed='True'", command)

    def test_handler_command_sets_what_the_fragment_sets(self):
        commands = re.findall(r"handlers /\+\"\[(name='TessalineIntegration'[^\]]*)\]\"", self.guide)
        self.assertEqual(len(commands), 1, "one appcmd command adds the handler")
        attributes = dict(re.findall(r"(\w+)='([^']*)'", commands[0]))
        self.assertEqual(attributes, dict(self.handler.attrib))

    def test_access_policy_command_matches(self):
        policies = re.findall(r"handlers /accessPolicy:\"([^\"]*)\"", self.guide)
        self.assertTrue(policies)
        for policy in policies:
            self.assertEqual(split_list(policy), split_list(self.location.find("./system.webServer/handlers").get("accessPolicy")))

    def test_commands_address_the_fragments_application_or_its_site(self):
        application = self.location.get("path")
        site = application.split("/")[0]
        targets = {
            "appcmd set config": quoted_values(self.guide, r"appcmd\.exe set config \"([^\"]+)\""),
            "appcmd set app": quoted_values(self.guide, r"appcmd\.exe set app \"([^\"]+)\""),
            "-Location": quoted_values(self.guide, r"-Location\s+['\"]([^'\"]+)['\"]"),
            "site names": quoted_values(self.guide, r"(?:/site\.name:|-Site\s+)['\"]([^'\"]+)['\"]"),
        }
        self.assertTrue(targets["appcmd set config"])
        for kind, found in targets.items():
            with self.subTest(kind):
                self.assertLessEqual(set(found), {application, site})


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: test_iis_config.py IIS-CONFIG-XML IIS-GUIDE-MD")
    CONFIG_PATH, GUIDE_PATH = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
