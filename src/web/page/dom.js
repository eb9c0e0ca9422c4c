// The page's elements: found by id, made with their properties and
// children (names go in as text nodes, never as markup).

export const $ = id => document.getElementById(id);

export function el(tag, props = {}, ...hijos) {
  const e = document.createElement(tag);
  Object.assign(e, props);
  e.append(...hijos);
  return e;
}
