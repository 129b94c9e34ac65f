#include "core/capture/page_scripts.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace lumiclip {

namespace {

// Resolves after the page has drawn twice: what a click or a change of style set off is on screen.
constexpr char kTwoFrames[] =
    "new Promise(function (resolve) {"
    "  requestAnimationFrame(function () { requestAnimationFrame(function () { resolve(); }); });"
    "})";

}  // namespace

QString JavaScriptString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString ElementProbeScript(const QString& selector) {
    // Visible: it takes room on the page and is neither hidden nor undisplayed.
    return QStringLiteral(
               "(function (selector) {"
               "  var e = document.querySelector(selector);"
               "  if (!e) return 'missing';"
               "  var box = e.getBoundingClientRect(), style = getComputedStyle(e);"
               "  return box.width > 0 && box.height > 0 && style.visibility !== 'hidden'"
               "      && style.display !== 'none' ? 'visible' : 'hidden';"
               "})(%1)")
        .arg(JavaScriptString(selector));
}

QString ExpressionProbeScript(const QString& expression, int withinMs) {
    // The expression is compiled once, as the body of a function, so that a syntax error is an error of
    // the expression and not of this script around it.
    return QStringLiteral(
               "new Promise(function (resolve) {"
               "  var check;"
               "  try { check = new Function('return (' + %1 + '\\n);'); }"
               "  catch (e) { resolve({error: String(e)}); return; }"
               "  var until = performance.now() + %2;"
               "  (function probe() {"
               "    var value;"
               "    try { value = check(); } catch (e) { resolve({error: String(e)}); return; }"
               "    if (value) { resolve({value: true}); return; }"
               "    if (performance.now() >= until) { resolve({value: false}); return; }"
               "    requestAnimationFrame(probe);"
               "  })();"
               "})")
        .arg(JavaScriptString(expression), QString::number(withinMs));
}

QString FontsReadyScript(int withinMs) {
    // Laid out first: a font is asked for only once text that uses it is laid out, and text a script put
    // on the page a moment ago may not have been yet.
    return QStringLiteral(
               "(document.documentElement && document.documentElement.getBoundingClientRect(),"
               " Promise.race(["
               "  (document.readyState === 'complete' ? document.fonts.ready"
               "   : Promise.all(Array.prototype.filter.call(document.fonts, function (f) {"
               "       return f.status === 'loading'; }).map(function (f) {"
               "       return f.loaded.catch(function () {}); })))"
               "    .then(function () { return 'ready'; }),"
               "  new Promise(function (resolve) { setTimeout(function () { resolve('late'); }, %1); })"
               "]))")
        .arg(withinMs);
}

QString ClickScript(const QString& selector) {
    return QStringLiteral(
               "(function (selector) {"
               "  var e;"
               "  try { e = document.querySelector(selector); } catch (error) { return 'invalid'; }"
               "  if (!e) return 'missing';"
               "  e.scrollIntoView({block: 'center', inline: 'center'});"
               "  e.click();"
               "  return %2.then(function () { return ''; });"
               "})(%1)")
        .arg(JavaScriptString(selector), QLatin1String(kTwoFrames));
}

QString HideScript(const QStringList& selectors) {
    QStringList literals;
    for (const QString& selector : selectors) {
        literals.append(JavaScriptString(selector));
    }
    // Each selector is a rule of its own, set through a style sheet's object model rather than written
    // into its text (and adopted by the document, which no content policy of the page refuses): a
    // selector is then parsed as a selector and nothing else, so that one cannot open a comment or a
    // block that swallows the rules after it ("x /*"). One the page's parser refuses is named.
    return QStringLiteral(
               "(function (selectors) {"
               "  var sheet = new CSSStyleSheet();"
               "  for (var i = 0; i < selectors.length; ++i) {"
               "    try { document.querySelector(selectors[i]); }"
               "    catch (e) { return selectors[i]; }"
               "    var rule = sheet.cssRules[sheet.insertRule("
               "        'lumiclip-unset { display: none !important; }', sheet.cssRules.length)];"
               "    rule.selectorText = selectors[i];"
               "    if (rule.selectorText === 'lumiclip-unset') return selectors[i];"
               "  }"
               "  document.adoptedStyleSheets = document.adoptedStyleSheets.concat([sheet]);"
               "  return '';"
               "})([%1])")
        .arg(literals.join(QLatin1Char(',')));
}

QString LazyLoadScript(int withinMs, int maxHeight) {
    return QStringLiteral(
               "(async function (withinMs, maxHeight) {"
               "  var until = performance.now() + withinMs;"
               "  var frame = function () { return new Promise(function (r) { requestAnimationFrame(r); }); "
               "};"
               "  var pause = function (ms) { return new Promise(function (r) { setTimeout(r, ms); }); };"
               "  var step = window.innerHeight || 600, y = 0;"
               "  while (performance.now() < until) {"
               "    var height = Math.min(document.documentElement.scrollHeight, maxHeight);"
               "    if (y + step >= height) break;"
               "    y += step;"
               "    window.scrollTo(0, y);"
               "    await frame();"
               "    await pause(50);"
               "  }"
               "  await frame();"
               "  var pending = Array.prototype.filter.call(document.images, function (i) { return "
               "!i.complete; });"
               "  await Promise.race(["
               "    Promise.all(pending.map(function (i) { return new Promise(function (r) {"
               "      i.addEventListener('load', r, {once: true}); i.addEventListener('error', r, {once: "
               "true});"
               "    }); })),"
               "    pause(Math.max(0, until - performance.now()))]);"
               "  window.scrollTo(0, 0);"
               "  await frame();"
               "  await frame();"
               "  return y;"
               "})(%1, %2)")
        .arg(QString::number(withinMs), QString::number(maxHeight));
}

QString FreezeAnimationsScript() {
    return QStringLiteral(
               "(function () {"
               "  var animations = document.getAnimations ? document.getAnimations() : [];"
               "  animations.forEach(function (a) {"
               "    var timing = a.effect ? a.effect.getComputedTiming() : null;"
               "    if (!timing || timing.endTime === Infinity) a.cancel(); else a.finish();"
               "  });"
               "  return %1.then(function () { return animations.length; });"
               "})()")
        .arg(QLatin1String(kTwoFrames));
}

}  // namespace lumiclip
