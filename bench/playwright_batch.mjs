// The peer of lumiclip-cli in bench/compare_batch.py: the same batch written with Playwright, as a
// careful user of it would. One browser (the given binary, our browser's flags), N workers taking
// addresses from one queue; per address a fresh browser context with a page of the view's size, a
// navigation that waits for the load event, a PNG screenshot of the view, and sharp (libvips, like
// lumiclip's image step) scaling it to exactly the image size, both axes on their own, and encoding
// JPEG at quality 75, libvips' default, which lumiclip-cli uses when given no --quality. The context is closed
// before the worker takes the next address.
//
//   node playwright_batch.mjs --modules DIR --browser PATH --jobs N --view WxH --size WxH \
//        --out FOLDER --list FILE [--flag ARG]...
//
// Exit status 0 when every address was written, 1 otherwise (the failures go to stderr).
import { createRequire } from "node:module";
import { writeFile, readFile } from "node:fs/promises";
import path from "node:path";

function parse(argv) {
  const options = { jobs: 1, flags: [] };
  for (let i = 0; i < argv.length; i += 2) {
    const [name, value] = [argv[i], argv[i + 1]];
    if (value === undefined) throw new Error(`${name}: a value is missing`);
    switch (name) {
      case "--modules": options.modules = value; break;
      case "--browser": options.browser = value; break;
      case "--jobs": options.jobs = Number(value); break;
      case "--view": [options.viewWidth, options.viewHeight] = value.split("x").map(Number); break;
      case "--size": [options.width, options.height] = value.split("x").map(Number); break;
      case "--out": options.out = value; break;
      case "--list": options.list = value; break;
      case "--flag": options.flags.push(value); break;
      default: throw new Error(`unknown argument ${name}`);
    }
  }
  for (const key of ["modules", "browser", "out", "list", "viewWidth", "width"]) {
    if (!options[key]) throw new Error(`--${key} is required`);
  }
  return options;
}

async function main() {
  const options = parse(process.argv.slice(2));
  const require = createRequire(path.join(options.modules, "package.json"));
  const { chromium } = require("playwright-core");
  const sharp = require("sharp");
  // Like lumiclip's image library: no operation cache, so no image reuses another's work.
  sharp.cache(false);
  const urls = (await readFile(options.list, "utf8")).split("\n").filter((line) => line.trim());
  const browser = await chromium.launch({ executablePath: options.browser, headless: true, args: options.flags });
  let next = 0;
  let failures = 0;
  const worker = async () => {
    while (next < urls.length) {
      const index = next++;
      const url = urls[index];
      const context = await browser.newContext({
        viewport: { width: options.viewWidth, height: options.viewHeight },
        deviceScaleFactor: 1,
      });
      try {
        const page = await context.newPage();
        const response = await page.goto(url, { waitUntil: "load", timeout: 30000 });
        if (!response || response.status() >= 400) throw new Error(`HTTP ${response && response.status()}`);
        const png = await page.screenshot({ type: "png" });
        const jpeg = await sharp(png)
          .flatten({ background: "#ffffff" })
          .resize(options.width, options.height, { fit: "fill" })
          .jpeg({ quality: 75 })
          .toBuffer();
        await writeFile(path.join(options.out, `${index + 1}.jpg`), jpeg);
      } catch (error) {
        ++failures;
        console.error(`playwright_batch: ${url}: ${error.message}`);
      } finally {
        await context.close();
      }
    }
  };
  await Promise.all(Array.from({ length: options.jobs }, worker));
  await browser.close();
  process.exitCode = failures ? 1 : 0;
}

main().catch((error) => {
  console.error(`playwright_batch: ${error.message}`);
  process.exitCode = 1;
});
