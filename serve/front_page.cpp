#include "serve/front_page.h"

namespace lumiclip {

QByteArray FrontPage(bool needsToken, bool needsSignature) {
    QByteArray page = QByteArrayLiteral(R"(<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>lumiclip-serve</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>
body { font: 15px/1.4 sans-serif; margin: 2em auto; max-width: 46em; padding: 0 1em; color: #222; }
form { display: grid; grid-template-columns: 7em 1fr; gap: .5em 1em; align-items: center; }
input, select, button { font: inherit; padding: .3em; }
button { grid-column: 2; justify-self: start; }
#result { margin-top: 1.5em; }
#thumb { display: block; border: 1px solid #ccc; max-width: 100%; margin-bottom: 1em; }
pre { background: #f4f4f4; padding: .8em; overflow-x: auto; }
.note { color: #666; }
</style></head><body>
<h1>lumiclip-serve</h1>
<p>Thumbnails of web pages on request: <code>GET /capture?url=https://example.org/&amp;size=360x276</code>.
Every page option of lumiclip-cli is a parameter (<code>full_page</code>, <code>wait</code>,
<code>device</code>, ...).</p>
<form id="form">
<label for="url">Address</label><input id="url" type="url" required placeholder="https://example.org/">
<label for="size">Size</label><input id="size" value="180x138" pattern="[0-9]+x[0-9]+">
<label for="format">Format</label>
<select id="format"><option>JPG</option><option>PNG</option><option>GIF</option><option>WEBP</option></select>
<label for="token" %TOKEN_HIDDEN%>Token</label><input id="token" type="password" %TOKEN_HIDDEN%>
<button id="go" type="submit">Capture</button>
</form>
<p class="note" %SIGNED_HIDDEN%>This server takes signed addresses; a capture from this page needs a token.</p>
<div id="result" hidden>
<img id="thumb" alt="the thumbnail">
<pre id="headers"></pre>
</div>
<script>
document.getElementById('form').addEventListener('submit', async function (event) {
  event.preventDefault();
  var query = new URLSearchParams({
    url: document.getElementById('url').value,
    size: document.getElementById('size').value,
    format: document.getElementById('format').value
  });
  var headers = {};
  var token = document.getElementById('token').value;
  if (token) headers['Authorization'] = 'Bearer ' + token;
  var result = document.getElementById('result'), thumb = document.getElementById('thumb');
  var text = document.getElementById('headers');
  text.textContent = 'Capturing...';
  result.hidden = false;
  thumb.hidden = true;
  try {
    var answer = await fetch('/capture?' + query.toString(), {headers: headers});
    var lines = ['HTTP ' + answer.status];
    answer.headers.forEach(function (value, name) { lines.push(name + ': ' + value); });
    if (answer.ok) {
      var blob = await answer.blob();
      if (thumb.src) URL.revokeObjectURL(thumb.src);
      thumb.src = URL.createObjectURL(blob);
      thumb.hidden = false;
    } else {
      lines.push('', await answer.text());
    }
    text.textContent = lines.join('\n');
  } catch (error) {
    text.textContent = String(error);
  }
});
</script>
</body></html>
)");
    page.replace("%TOKEN_HIDDEN%", needsToken ? "" : "hidden");
    page.replace("%SIGNED_HIDDEN%", needsSignature ? "" : "hidden");
    return page;
}

}  // namespace lumiclip
