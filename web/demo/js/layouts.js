// The service's layouts: square grids, and four with big panes (the number of panes each shows).
export const LAYOUTS = [
  { type: 1, panes: 1, label: '1' },
  { type: 4, panes: 4, label: '4' },
  { type: 9, panes: 9, label: '9' },
  { type: 16, panes: 16, label: '16' },
  { type: 25, panes: 25, label: '25' },
  { type: 36, panes: 36, label: '36' },
  { type: 64, panes: 64, label: '64' },
  { type: 1001, panes: 6, label: '1+5', title: 'one big pane and 5' },
  { type: 2001, panes: 8, label: '1+7', title: 'one bigger pane and 7' },
  { type: 3001, panes: 10, label: '2+8', title: 'two big panes and 8' },
  { type: 4001, panes: 13, label: '12+1', title: 'a big pane in the middle and 12 around' },
];

export function paneCount(type) {
  const layout = LAYOUTS.find((l) => l.type === type);
  return layout ? layout.panes : 4;
}

export function isLayout(type) {
  return LAYOUTS.some((l) => l.type === type);
}
